// What tarvokctl learns from and tells the service and the manager, as far as the slots show it.
//
// The service answers the manager in "TarvokClient", which a running manager holds. tarvokctl
// holds it only for a moment and only while no manager does; otherwise it asks with "RQ" and
// reads the answer in a slot of its own (shared/Protocol.h). Every wait has a patience: a
// paused service reads no message until it continues, so silence is an answer too.
//
//   TSlotLink link;
//   if (link.ServiceRuns())
//       if (auto runs = link.QueryRuns()) ... // task id -> process id of each blocking run
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarvok {

// Task id -> process id of each blocking run the service follows.
using TServiceRuns = std::map<std::int32_t, std::uint32_t>;

enum class TServiceState { Running, Paused };

enum class TDeleteAnswer {
    Deleted,  // "TX" with the task's id: the service saved the task file without it
    Declined, // "TX" with another id: the service deleted nothing
    Handled,  // a manager holds "TarvokClient" and got the "TX"; the service has handled "TD"
    NoAnswer, // nothing within the patience
};

class TCtlLink {
public:
    virtual ~TCtlLink() = default;
    // The service holds its slot (it runs, or is paused).
    virtual bool ServiceRuns() = 0;
    // A manager holds "TarvokClient".
    virtual bool ManagerRuns() = 0;
    // To the service's slot; false when nobody received it.
    virtual bool Send(const std::string& message) = 0;
    // Asks with "RQ"; nothing when no complete answer came within the patience.
    virtual std::optional<TServiceRuns> QueryRuns() = 0;
    // Sends "TD" and waits for the service to have handled it.
    virtual TDeleteAnswer DeleteTask(std::int32_t taskId) = 0;
    // The state the service's status messages tell, when no manager holds "TarvokClient" and a
    // status message came within the patience.
    virtual std::optional<TServiceState> ListenForState() = 0;
    // The services run by hand ("TarvokSvc run") from this program directory.
    virtual std::vector<std::uint32_t> ForegroundServices() = 0;
    // Delivers a control to one of them; empty, or why not.
    virtual std::string ControlForeground(std::uint32_t processId, std::uint32_t control) = 0;
};

// How long tarvokctl waits for the service. A pass comes at least every half second; the
// patience leaves room for a loaded machine.
struct TLinkPatience {
    std::chrono::milliseconds Answer{3000}; // "RE" after "RQ", "TX" after "TD"
    std::chrono::milliseconds Listen{1500}; // a status message, sent every 500 ms
};

// The real slots, in the program directory of the running tarvokctl.
class TSlotLink final : public TCtlLink {
public:
    TSlotLink(std::string programDir, TLinkPatience patience = {});

    bool ServiceRuns() override;
    bool ManagerRuns() override;
    bool Send(const std::string& message) override;
    std::optional<TServiceRuns> QueryRuns() override;
    TDeleteAnswer DeleteTask(std::int32_t taskId) override;
    std::optional<TServiceState> ListenForState() override;
    std::vector<std::uint32_t> ForegroundServices() override;
    std::string ControlForeground(std::uint32_t processId, std::uint32_t control) override;

private:
    std::string programDir_;
    TLinkPatience patience_;
};

} // namespace tarvok
