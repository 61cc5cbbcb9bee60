#include "shared/ProcPrio.h"

#include <gtest/gtest.h>

namespace tarvok {
namespace {

TEST(ProcPrio, EveryCodeMapsToItsNameItemPositionAndProcessPriorityAndBack) {
    using platform::TProcessPriority;
    struct Row {
        int code;
        const char* name;
        const char* item;
        int position;
        TProcessPriority process;
    };
    const Row rows[] = {
        {0, "High", "High", 1, TProcessPriority::High},
        {1, "Realtime", "Real Time", 0, TProcessPriority::Realtime},
        {2, "Normal", "Normal", 2, TProcessPriority::Normal},
        {3, "Low", "Low", 3, TProcessPriority::Low},
    };
    const std::vector<std::string> items = PriorityItems();
    ASSERT_EQ(items.size(), std::size(rows));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        EXPECT_EQ(PriorityName(row.code), row.name);
        EXPECT_EQ(PositionOfPriority(row.code), row.position);
        EXPECT_EQ(PriorityFromPosition(row.position), row.code);
        EXPECT_EQ(items[static_cast<std::size_t>(row.position)], row.item);
        EXPECT_EQ(ProcessPriorityOf(row.code), row.process);
        EXPECT_EQ(PriorityFromName(row.name), row.code);
    }
    EXPECT_EQ(PriorityFromName("REALTIME"), 1) << "any letter case";
    for (const char* other : {"Real Time", "", "Normal ", "Lo"}) {
        EXPECT_EQ(PriorityFromName(other), std::nullopt) << other;
    }
}

TEST(ProcPrio, UnknownCodesHaveNoNameNorPriorityAndUnknownPositionsMeanNormal) {
    for (int code : {-1, 4, 255, 256}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(PriorityName(code), "");
        EXPECT_EQ(PositionOfPriority(code), std::nullopt);
        EXPECT_EQ(ProcessPriorityOf(code), platform::TProcessPriority::Inherited);
    }
    for (int position : {-1, 4, 1000}) {
        SCOPED_TRACE(position);
        EXPECT_EQ(PriorityFromPosition(position), NormalPriority);
    }
    EXPECT_EQ(PriorityName(NormalPriority), "Normal");
}

} // namespace
} // namespace tarvok
