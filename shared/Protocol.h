// The messages between the manager and the scheduler service: their codes, the slots they travel
// through, and the three shapes a message takes.
//
// A message is a two-letter code, optionally followed by a task id and then a process id, each
// after a single blank: "CR", "TN 7", "TS 7 4711". Both programs build messages only with
// FormatMessage and take them apart only with ParseMessage, which reads "%s %d %d" with the
// numbers preset to 0, so a missing number reads 0 and an unknown code (compared exactly, so
// "ts" is unknown) has no value and is ignored by receivers.
//
// A process id is unsigned here and travels as the decimal of the same 32 bits read as signed,
// so a value above INT32_MAX goes out negative and comes back unchanged. Linux never hands out
// such an id (pid_max is at most 4194304), so in practice the decimal is the plain id.
//
// Every message is under 30 bytes: two letters and two 11-character numbers with their blanks.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace tarvok {

enum class TMessageCode {
    ClientConnected,    // "CR" manager -> service; answered by one "TS" per running blocking task
    ClientDisconnected, // "CD" manager -> service
    TruncateLog,        // "LT" manager -> service
    TaskAdded,          // "TN" manager -> service, task id
    TaskChanged,        // "TM" manager -> service, task id
    DeleteTask,         // "TD" manager -> service, task id; answered by "TX"
    RunTask,            // "TR" manager -> service, task id
    TaskStarted,        // "TS" both ways, task id and process id
    TaskFinished,       // "TF" service -> manager, task id and process id
    ServiceStarted,     // "SS" service -> manager
    ServiceRunning,     // "SR" service -> manager, every 500 ms
    ServicePaused,      // "SP" service -> manager, every 500 ms while paused
    ServiceStopped,     // "SD" service -> manager
    LogChanged,         // "LC" service -> manager, after every log line
    TaskDeleted,        // "TX" service -> manager, task id
    // Asked by tarvokctl, which cannot read "TarvokClient" while a manager does: the service
    // answers into the asker's own slot (ReplySlotName of the number) with one "TS" per running
    // blocking task and then "RE" with how many it sent. Peers that predate them ignore both.
    RunsQuery,    // "RQ" tarvokctl -> service, the asker's reply slot number
    RunsQueryEnd, // "RE" service -> tarvokctl, the number of "TS" answers before it
    // A run the service started ended with a non-zero exit code or a signal: the task id and
    // FailureCode (shared/RunLedger.h) in the process id's place, so a signal travels negative.
    // Peers that predate it ignore it.
    TaskFailed, // "TE" service -> manager, task id and failure code
};

// Every code with its text, each once.
std::span<const std::pair<TMessageCode, std::string_view>> MessageCodeTable();

std::string_view MessageCodeText(TMessageCode code);
// Exact and case-sensitive; nothing for a text that is no code.
std::optional<TMessageCode> MessageCodeFromText(std::string_view text);

// True for the codes the service acts on: what the manager asks of it or tells it.
bool IsServiceRequest(TMessageCode code);

// The service reads "TarvokService", the manager "TarvokClient"; a starting manager holds
// "TarvokStarting" so that a second one started at the same moment gives way.
inline constexpr std::string_view ServiceSlotName = "TarvokService";
// The service's name is also its event source and its slot.
inline constexpr const char* ServiceName = "TarvokService";
static_assert(ServiceSlotName == ServiceName);
inline constexpr std::string_view ClientSlotName = "TarvokClient";
inline constexpr std::string_view StartingSlotName = "TarvokStarting";
// The slot a tarvokctl process reads the service's answers in: "TarvokCtl4711".
std::string ReplySlotName(std::int32_t number);

struct TMessage {
    std::optional<TMessageCode> Code; // nothing for a code this program does not know
    std::int32_t TaskId = 0;
    std::uint32_t ProcessId = 0;

    friend bool operator==(const TMessage&, const TMessage&) = default;
};

// "CR"
std::string FormatMessage(TMessageCode code);
// "TN 7"
std::string FormatMessage(TMessageCode code, std::int32_t taskId);
// "TS 7 4711"
std::string FormatMessage(TMessageCode code, std::int32_t taskId, std::uint32_t processId);

// Never fails: whatever the text, the fields that could not be read keep their defaults.
TMessage ParseMessage(std::string_view text);

} // namespace tarvok
