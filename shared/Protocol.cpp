#include "shared/Protocol.h"

#include "shared/scanf.h"

#include <algorithm>
#include <array>

namespace tarvok {

namespace {

using enum TMessageCode;

constexpr std::array<std::pair<TMessageCode, std::string_view>, 18> Codes{{
    {ClientConnected, "CR"},
    {ClientDisconnected, "CD"},
    {TruncateLog, "LT"},
    {TaskAdded, "TN"},
    {TaskChanged, "TM"},
    {DeleteTask, "TD"},
    {RunTask, "TR"},
    {TaskStarted, "TS"},
    {TaskFinished, "TF"},
    {ServiceStarted, "SS"},
    {ServiceRunning, "SR"},
    {ServicePaused, "SP"},
    {ServiceStopped, "SD"},
    {LogChanged, "LC"},
    {TaskDeleted, "TX"},
    {RunsQuery, "RQ"},
    {RunsQueryEnd, "RE"},
    {TaskFailed, "TE"},
}};

} // namespace

std::span<const std::pair<TMessageCode, std::string_view>> MessageCodeTable() {
    return Codes;
}

std::string_view MessageCodeText(TMessageCode code) {
    const auto row =
        std::ranges::find(Codes, code, &std::pair<TMessageCode, std::string_view>::first);
    return row == Codes.end() ? std::string_view{} : row->second;
}

std::optional<TMessageCode> MessageCodeFromText(std::string_view text) {
    const auto row =
        std::ranges::find(Codes, text, &std::pair<TMessageCode, std::string_view>::second);
    if (row == Codes.end()) {
        return std::nullopt;
    }
    return row->first;
}

bool IsServiceRequest(TMessageCode code) {
    switch (code) {
    case TMessageCode::ClientConnected:
    case TMessageCode::ClientDisconnected:
    case TMessageCode::TruncateLog:
    case TMessageCode::TaskAdded:
    case TMessageCode::TaskChanged:
    case TMessageCode::DeleteTask:
    case TMessageCode::RunTask:
    case TMessageCode::TaskStarted:
    case TMessageCode::TaskFinished:
    case TMessageCode::RunsQuery:
        return true;
    default:
        return false;
    }
}

std::string ReplySlotName(std::int32_t number) {
    return "TarvokCtl" + std::to_string(number);
}

std::string FormatMessage(TMessageCode code) {
    return std::string(MessageCodeText(code));
}

std::string FormatMessage(TMessageCode code, std::int32_t taskId) {
    return FormatMessage(code) + ' ' + std::to_string(taskId);
}

std::string FormatMessage(TMessageCode code, std::int32_t taskId, std::uint32_t processId) {
    return FormatMessage(code, taskId) + ' ' + std::to_string(static_cast<std::int32_t>(processId));
}

TMessage ParseMessage(std::string_view text) {
    std::string code;
    std::int32_t taskId = 0;
    std::int32_t processId = 0;
    Scan(text, "%s %d %d", {&code, &taskId, &processId});
    return TMessage{MessageCodeFromText(code), taskId, static_cast<std::uint32_t>(processId)};
}

} // namespace tarvok
