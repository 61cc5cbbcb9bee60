// The service's event ids and its message table.
//
// An id carries its severity in the top two bits (01 information, 10 warning, 11 error);
// %1 in a text is the event's first insertion string, carried by the entry's first field.
//
//   EventText(TEventId::UnexpectedCode, {"128"})
//       == "The service handler received an unexpected code of '128'."
#pragma once

#include "platform/EventLog.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarvok {

enum class TEventId : std::uint32_t {
    Started = 0x40000001,
    Resumed = 0x40000003,
    Ended = 0x40000005,
    Interrogated = 0x40000006, // in the table, never written
    Paused = 0x80000002,
    FailedToStart = 0xC0000004,
    UnexpectedCode = 0xC0000007,
    StatusUpdateFailed = 0xC0000008,
    RegisterHandlerFailed = 0xC0000009,
    DispatcherFailed = 0xC000000A,
    BadStartupParameter = 0xC000000B, // in the table, never written
};

// The whole table, in id order within each severity.
const std::vector<platform::TEventMessage>& MessageTable();

platform::TEventType EventTypeOf(TEventId id);

// The message text with %1..%9 replaced by the insertion strings; a number without a string
// stays as it is.
std::string EventText(TEventId id, const std::vector<std::string>& insertions);

// The insertion strings under their field names; a string the entry has no field for is left
// out.
//   EventFields(TEventId::Resumed, {"617"}) == {{"TARVOK_PAUSED_MILLISECONDS", "617"}}
std::vector<platform::TEventField> EventFields(TEventId id,
                                               const std::vector<std::string>& insertions);

} // namespace tarvok
