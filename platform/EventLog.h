// The system's event log: one entry per event, and the registration of a source's message table.
//
// An event carries a 32-bit id whose top two bits give its severity, the message text already
// expanded with its insertion strings, each insertion string as a named field of its own and a
// few raw bytes. Writing an event never fails visibly: where no event log runs, the event is
// dropped.
//
//   TSystemEventLog log;
//   log.Report({"TarvokService", TEventType::Information, 0x40000003,
//               "The service was resumed after being paused for 617 milliseconds.",
//               {{"TARVOK_PAUSED_MILLISECONDS", "617"}}, rawStatus});
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace tarvok::platform {

enum class TEventType : std::uint16_t { Error = 1, Warning = 2, Information = 4 };

// One insertion string under the name of the field that carries it.
struct TEventField {
    std::string Name;
    std::string Value;

    friend bool operator==(const TEventField&, const TEventField&) = default;
};

struct TEvent {
    std::string Source;
    TEventType Type = TEventType::Information;
    std::uint32_t Id = 0;
    std::string Text;                // the message text with its insertion strings
    std::vector<TEventField> Fields; // %1, %2, ... of the message text, in order
    std::span<const std::uint8_t> RawData;
};

class TEventLog {
public:
    virtual ~TEventLog() = default;
    virtual void Report(const TEvent& event) = 0;
};

// The machine's event log. Where none runs, an event goes to the fallback stream when one is
// given, as one line: "TarvokService: Warning: The service was paused."; otherwise it is lost.
class TSystemEventLog final : public TEventLog {
public:
    explicit TSystemEventLog(std::ostream* fallback = nullptr) : fallback_(fallback) {}
    void Report(const TEvent& event) override;

private:
    std::ostream* fallback_;
    std::mutex fallbackMutex_; // events come from the control handler's thread and the service's
};

// The 128-bit message id of an event: 32 lower-case hex digits, a fixed prefix followed by
// the event id. EventMessageId(0x4000000A) == "9ccf814b89aa47f48205009d4000000a".
std::string EventMessageId(std::uint32_t eventId);

// One entry of a message table; %1 to %9 in the text stand for insertion strings, carried by
// the fields named in Fields, in order. A field name is capital letters and '_' only: the
// event log's explanations fill in no other name (a digit leaves the name unexplained).
struct TEventMessage {
    std::uint32_t Id = 0;
    std::string Text;
    std::vector<std::string> Fields;
};

// Whether the event log's explanations can show a field of this name.
bool IsExplainableFieldName(const std::string& name);

// Registers an event source's message table with the event log, so that its events are
// explained where they are read. The place and the step that makes the log take a changed
// table are replaceable, so tests touch neither.
class TEventRegistration {
public:
    struct TSettings {
        std::string Directory;
        std::function<void()> Refresh; // best effort: the table is in place without it
    };
    static TSettings SystemSettings();

    explicit TEventRegistration(TSettings settings = SystemSettings());

    // Where the source's table lives; shown to the installing user.
    std::string Location(const std::string& source) const;
    // 0 when the table can be written (the directory is created when missing), else the
    // error number.
    int Open() const;
    // Raises TIoError; a failure leaves no table behind.
    void Write(const std::string& source, const std::vector<TEventMessage>& table) const;
    // A missing table is no error; others raise TIoError.
    void Remove(const std::string& source) const;

private:
    TSettings settings_;
};

} // namespace tarvok::platform
