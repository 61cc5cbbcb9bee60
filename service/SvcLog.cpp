#include "service/SvcLog.h"

namespace tarvok {

namespace {

std::uint32_t Raw(TEventId id) {
    return static_cast<std::uint32_t>(id);
}

} // namespace

const std::vector<platform::TEventMessage>& MessageTable() {
    static const std::vector<platform::TEventMessage> table = {
        {Raw(TEventId::Started), "The service started successfully."},
        {Raw(TEventId::Resumed), "The service was resumed after being paused for %1 milliseconds."},
        {Raw(TEventId::Ended), "The service ended successfully."},
        {Raw(TEventId::Interrogated), "The service status was interrogated."},
        {Raw(TEventId::Paused), "The service was paused."},
        {Raw(TEventId::FailedToStart), "The service failed to start."},
        {Raw(TEventId::UnexpectedCode), "The service handler received an unexpected code of '%1'."},
        {Raw(TEventId::StatusUpdateFailed),
         "The call to update SCM with current status failed. Last error code was %1."},
        {Raw(TEventId::RegisterHandlerFailed),
         "The call to register the service handler failed with %1."},
        {Raw(TEventId::DispatcherFailed),
         "The call to start the service displatcher failed with %1."},
        {Raw(TEventId::BadStartupParameter),
         "The service startup parameter '%1' is invalid. Will use 1 second delay."},
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

std::string EventText(TEventId id, const std::vector<std::string>& insertions) {
    std::string pattern;
    for (const platform::TEventMessage& entry : MessageTable()) {
        if (entry.Id == Raw(id)) {
            pattern = entry.Text;
        }
    }
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

} // namespace tarvok
