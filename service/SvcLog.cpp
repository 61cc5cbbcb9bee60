#include "service/SvcLog.h"

namespace tarvok {

namespace {

std::uint32_t Raw(TEventId id) {
    return static_cast<std::uint32_t>(id);
}

} // namespace

// The fields are named after what they hold.
const std::vector<platform::TEventMessage>& MessageTable() {
    static const std::vector<platform::TEventMessage> table = {
        {Raw(TEventId::Started), "The service started successfully.", {}},
        {Raw(TEventId::Resumed),
         "The service was resumed after being paused for %1 milliseconds.",
         {"TARVOK_PAUSED_MILLISECONDS"}},
        {Raw(TEventId::Ended), "The service ended successfully.", {}},
        {Raw(TEventId::Interrogated), "The service status was interrogated.", {}},
        {Raw(TEventId::Paused), "The service was paused.", {}},
        // The reason travels as a field of its own; the fixed text has no place for it.
        {Raw(TEventId::FailedToStart), "The service failed to start.", {"TARVOK_REASON"}},
        {Raw(TEventId::UnexpectedCode),
         "The service handler received an unexpected code of '%1'.",
         {"TARVOK_CONTROL_CODE"}},
        {Raw(TEventId::StatusUpdateFailed),
         "The call to update SCM with current status failed. Last error code was %1.",
         {"TARVOK_ERROR"}},
        {Raw(TEventId::RegisterHandlerFailed),
         "The call to register the service handler failed with %1.",
         {"TARVOK_ERROR"}},
        {Raw(TEventId::DispatcherFailed),
         "The call to start the service displatcher failed with %1.",
         {"TARVOK_ERROR"}},
        {Raw(TEventId::BadStartupParameter),
         "The service startup parameter '%1' is invalid. Will use 1 second delay.",
         {"TARVOK_STARTUP_PARAMETER"}},
    };
    return table;
}

platform::TEventType EventTypeOf(TEventId id) {
    switch (Raw(id) >> 30) {
    case 3:
        return platform::TEventType::Error;
    case 2:
        return platform::TEventType::Warning;
    default:
        return platform::TEventType::Information;
    }
}

namespace {

const platform::TEventMessage* FindMessage(TEventId id) {
    for (const platform::TEventMessage& entry : MessageTable()) {
        if (entry.Id == Raw(id)) {
            return &entry;
        }
    }
    return nullptr;
}

} // namespace

std::string EventText(TEventId id, const std::vector<std::string>& insertions) {
    const platform::TEventMessage* entry = FindMessage(id);
    const std::string pattern = entry != nullptr ? entry->Text : std::string();
    std::string text;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const bool insertion = pattern[i] == '%' && i + 1 < pattern.size() &&
                               pattern[i + 1] >= '1' && pattern[i + 1] <= '9' &&
                               static_cast<std::size_t>(pattern[i + 1] - '1') < insertions.size();
        if (insertion) {
            text += insertions[static_cast<std::size_t>(pattern[i + 1] - '1')];
            ++i;
        } else {
            text += pattern[i];
        }
    }
    return text;
}

std::vector<platform::TEventField> EventFields(TEventId id,
                                               const std::vector<std::string>& insertions) {
    std::vector<platform::TEventField> fields;
    if (const platform::TEventMessage* entry = FindMessage(id)) {
        for (std::size_t i = 0; i < insertions.size() && i < entry->Fields.size(); ++i) {
            fields.push_back({entry->Fields[i], insertions[i]});
        }
    }
    return fields;
}

} // namespace tarvok
