#include "service/SvcLog.h"

#include "platform/Files.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>

namespace tarvok {
namespace {

namespace fs = std::filesystem;

TEST(SvcLog, EventMessageIdEndsInTheEventId) {
    EXPECT_EQ(platform::EventMessageId(0x40000001), "9ccf814b89aa47f48205009d40000001");
    EXPECT_EQ(platform::EventMessageId(0xC000000A), "9ccf814b89aa47f48205009dc000000a");
}

TEST(SvcLog, InsertionStringsFillTheirPlacesAndTheirFields) {
    EXPECT_EQ(EventText(TEventId::UnexpectedCode, {"128"}),
              "The service handler received an unexpected code of '128'.");
    EXPECT_EQ(EventFields(TEventId::Resumed, {"617"}),
              (std::vector<platform::TEventField>{{"TARVOK_PAUSED_MILLISECONDS", "617"}}));
    EXPECT_EQ(EventFields(TEventId::Started, {"unused"}), std::vector<platform::TEventField>{});
    EXPECT_EQ(EventText(TEventId::Resumed, {}),
              "The service was resumed after being paused for %1 milliseconds.");
    EXPECT_EQ(EventText(TEventId::Started, {"unused"}), "The service started successfully.");
}

// Walks the whole table: every entry reads back by its id and appears in the catalog that
// installing writes, with its message id and its text, each insertion shown through a field
// whose name journalctl fills in.
TEST(SvcLog, EveryTableEntryReadsBackAndIsInTheCatalog) {
    const fs::path dir = fs::temp_directory_path() / ("tarvok-catalog-" + std::to_string(getpid()));
    fs::remove_all(dir);
    int refreshes = 0;
    const platform::TEventRegistration registration({dir.string(), [&] { ++refreshes; }});
    ASSERT_EQ(registration.Open(), 0);
    registration.Write("TarvokService", MessageTable());
    const std::string catalog = platform::ReadFile(registration.Location("TarvokService"));
    EXPECT_EQ(fs::status(registration.Location("TarvokService")).permissions(), fs::perms(0644));
    EXPECT_EQ(refreshes, 1);

    std::set<std::uint32_t> ids;
    for (const platform::TEventMessage& entry : MessageTable()) {
        SCOPED_TRACE(entry.Text);
        const auto id = static_cast<TEventId>(entry.Id);
        EXPECT_TRUE(ids.insert(entry.Id).second) << "id twice in the table";
        EXPECT_EQ(EventText(id, {}), entry.Text);
        std::string subject = entry.Text;
        if (auto at = subject.find("%1"); at != std::string::npos) {
            ASSERT_EQ(entry.Fields.size(), 1u);
            EXPECT_TRUE(platform::IsExplainableFieldName(entry.Fields[0])) << entry.Fields[0];
            subject.replace(at, 2, "@" + entry.Fields[0] + "@");
        }
        EXPECT_EQ(subject.find('%'), std::string::npos) << "an insertion without its field";
        const std::string block = "-- " + platform::EventMessageId(entry.Id) +
                                  "\nSubject: " + subject + "\nDefined-By: TarvokService\n\n";
        EXPECT_NE(catalog.find(block), std::string::npos) << catalog;
    }
    EXPECT_EQ(ids.size(), 11u);

    registration.Remove("TarvokService");
    EXPECT_FALSE(fs::exists(registration.Location("TarvokService")));
    EXPECT_NO_THROW(registration.Remove("TarvokService"));
    fs::remove_all(dir);
}

} // namespace
} // namespace tarvok
