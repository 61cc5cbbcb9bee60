// The event log is the systemd journal; a message table is a journal catalog, which journalctl
// shows beside every entry with the matching MESSAGE_ID.
#define SD_JOURNAL_SUPPRESS_LOCATION // the event is the service's, not a line of this file

#include "platform/EventLog.h"

#include "platform/ErrorText.h"
#include "platform/Files.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

extern char** environ;

namespace tarvok::platform {

namespace {

struct TTypePriority {
    TEventType Type;
    int Priority; // syslog levels: err, warning, info
    const char* Name;
};

constexpr std::array<TTypePriority, 3> TypePriorities = {{
    {TEventType::Error, 3, "Error"},
    {TEventType::Warning, 4, "Warning"},
    {TEventType::Information, 6, "Information"},
}};

const TTypePriority& EntryOf(TEventType type) {
    for (const TTypePriority& entry : TypePriorities) {
        if (entry.Type == type) {
            return entry;
        }
    }
    return TypePriorities.back();
}

int PriorityOf(TEventType type) {
    return EntryOf(type).Priority;
}

constexpr const char* JournalSocket = "/run/systemd/journal/socket";

// Chosen once at random; the low 32 bits of every id are the event id.
constexpr const char* MessageIdPrefix = "9ccf814b89aa47f48205009d";

std::string Hex(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * bytes.size());
    for (std::uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0f];
    }
    return text;
}

// The field that %1 .. %9 at text[at] stands for, or nullptr.
const std::string* InsertionField(const TEventMessage& entry, std::size_t at) {
    const std::string& text = entry.Text;
    if (text[at] != '%' || at + 1 >= text.size() || text[at + 1] < '1' || text[at + 1] > '9') {
        return nullptr;
    }
    const auto number = static_cast<std::size_t>(text[at + 1] - '1');
    return number < entry.Fields.size() ? &entry.Fields[number] : nullptr;
}

// %1 .. %9 become the journal fields that carry the insertion strings, so that the catalog
// text reads with the event's own values; a number without a field stays as it is.
std::string CatalogText(const TEventMessage& entry) {
    std::string result;
    for (std::size_t i = 0; i < entry.Text.size(); ++i) {
        if (const std::string* field = InsertionField(entry, i)) {
            // Appended piece by piece: g++ 12 at -O3 misreads "@" + string&& as an overlapping
            // copy.
            result += '@';
            result += *field;
            result += '@';
            ++i;
        } else {
            result += entry.Text[i];
        }
    }
    return result;
}

std::string Catalog(const std::string& source, const std::vector<TEventMessage>& table) {
    std::string catalog = "# Events of " + source + ", installed with the service.\n";
    for (const TEventMessage& entry : table) {
        char id[16];
        std::snprintf(id, sizeof id, "0x%08X", entry.Id);
        const std::string text = CatalogText(entry);
        catalog += "\n-- " + EventMessageId(entry.Id) + "\nSubject: " + text +
                   "\nDefined-By: " + source + "\n\n" + text + "\nEvent " + id + " of " + source +
                   ".\n";
    }
    return catalog;
}

void UpdateJournalCatalog() {
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    char program[] = "journalctl";
    char option[] = "--update-catalog";
    char* argv[] = {program, option, nullptr};
    pid_t child = 0;
    if (::posix_spawnp(&child, program, &actions, nullptr, argv, environ) == 0) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    ::posix_spawn_file_actions_destroy(&actions);
}

} // namespace

// journalctl fills in @NAME@ only where NAME is capital letters and '_'.
bool IsExplainableFieldName(const std::string& name) {
    return !name.empty() && name.front() != '_' &&
           std::all_of(name.begin(), name.end(),
                       [](char c) { return (c >= 'A' && c <= 'Z') || c == '_'; });
}

std::string EventMessageId(std::uint32_t eventId) {
    char low[9];
    std::snprintf(low, sizeof low, "%08x", eventId);
    return MessageIdPrefix + std::string(low);
}

void TSystemEventLog::Report(const TEvent& event) {
    std::vector<std::string> fields = {
        "MESSAGE=" + event.Text,
        "PRIORITY=" + std::to_string(PriorityOf(event.Type)),
        "SYSLOG_IDENTIFIER=" + event.Source,
        "MESSAGE_ID=" + EventMessageId(event.Id),
        "TARVOK_STATUS_RECORD=" + Hex(event.RawData),
    };
    for (const TEventField& field : event.Fields) {
        fields.push_back(field.Name + "=" + field.Value);
    }
    std::vector<iovec> parts;
    for (std::string& field : fields) {
        parts.push_back({field.data(), field.size()});
    }
    // No journal (not booted with systemd, or in a container without one): the library drops
    // the event and says it was sent, so only the journal's socket tells whether one runs.
    struct stat socket {};
    const bool journal = ::stat(JournalSocket, &socket) == 0 && S_ISSOCK(socket.st_mode);
    if ((journal && ::sd_journal_sendv(parts.data(), static_cast<int>(parts.size())) >= 0) ||
        fallback_ == nullptr) {
        return;
    }
    std::lock_guard lock(fallbackMutex_);
    *fallback_ << event.Source << ": " << EntryOf(event.Type).Name << ": " << event.Text
               << std::endl;
}

TEventRegistration::TSettings TEventRegistration::SystemSettings() {
    // journalctl reads catalogs from /usr/lib (the distribution's packages) and /usr/local/lib
    // (software installed locally, as this is), never from /etc.
    return {"/usr/local/lib/systemd/catalog", UpdateJournalCatalog};
}

TEventRegistration::TEventRegistration(TSettings settings) : settings_(std::move(settings)) {}

std::string TEventRegistration::Location(const std::string& source) const {
    return settings_.Directory + "/" + source + ".catalog";
}

int TEventRegistration::Open() const {
    const std::string& directory = settings_.Directory;
    // Creates the missing trailing levels; the bound is the number of separators in the path.
    std::vector<std::string> missing;
    for (std::string level = directory; !level.empty() && !DirectoryExists(level);) {
        missing.push_back(level);
        const auto slash = level.find_last_of('/');
        level = slash == std::string::npos ? std::string() : level.substr(0, slash);
    }
    for (auto level = missing.rbegin(); level != missing.rend(); ++level) {
        if (::mkdir(level->c_str(), 0755) != 0 && errno != EEXIST) {
            return errno;
        }
    }
    return ::access(directory.c_str(), W_OK) == 0 ? 0 : errno;
}

void TEventRegistration::Write(const std::string& source,
                               const std::vector<TEventMessage>& table) const {
    const std::string path = Location(source);
    try {
        ReplaceFile(path, Catalog(source, table));
        // Catalogs are read by every user's journalctl.
        if (::chmod(path.c_str(), 0644) != 0) {
            throw TIoError(path, ErrorText(errno));
        }
    } catch (const TIoError&) {
        ::unlink(path.c_str());
        throw;
    }
    settings_.Refresh();
}

void TEventRegistration::Remove(const std::string& source) const {
    RemoveFile(Location(source));
    settings_.Refresh();
}

} // namespace tarvok::platform
