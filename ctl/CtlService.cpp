// The service's commands: status, pause, continue.
#include "ctl/CtlCommands.h"
#include "ctl/TaskJson.h"
#include "shared/Protocol.h"

namespace tarvok::ctl {

namespace {

struct TStatus {
    const char* Service; // "running", "paused", "stopped", "not answering"
    const char* Manager; // "connected", "scheduling by itself", "not running"
    std::uint32_t ForegroundProcess = 0;
};

// The service's state as far as the slots show it. Where no manager holds "TarvokClient" the
// service's own status messages say it; otherwise only whether it answers a question, which a
// paused service does not.
const char* ServiceState(const TCtlParts& parts, bool managerRuns) {
    if (!managerRuns) {
        if (const auto state = parts.Link.ListenForState()) {
            return *state == TServiceState::Paused ? "paused" : "running";
        }
        return "not answering";
    }
    if (!parts.Administrator) {
        return "running or paused";
    }
    return parts.Link.QueryRuns() ? "running" : "not answering";
}

TStatus StatusNow(const TCtlParts& parts) {
    const bool serviceRuns = parts.Link.ServiceRuns();
    const bool managerRuns = parts.Link.ManagerRuns();
    TStatus status{"stopped", "not running"};
    if (managerRuns) {
        status.Manager = serviceRuns ? "connected" : "scheduling by itself";
    }
    if (serviceRuns) {
        status.Service = ServiceState(parts, managerRuns);
        const std::vector<std::uint32_t> foreground = parts.Link.ForegroundServices();
        status.ForegroundProcess = foreground.empty() ? 0 : foreground.front();
    }
    return status;
}

int SendControl(const TCall& call, std::uint32_t control, const char* verb) {
    const TCtlParts& parts = call.Parts;
    const auto cannot = [&](const std::string& why) {
        return Fail(parts, CtlFailed,
                    std::string("cannot ") + verb + " " + ServiceName + ": " + why);
    };
    // A service run by hand is signalled directly; one under systemd through systemd, which
    // reaches its main process only, never the tasks in its control group.
    const std::vector<std::uint32_t> foreground = parts.Link.ForegroundServices();
    for (std::uint32_t process : foreground) {
        if (const std::string why = parts.Link.ControlForeground(process, control); !why.empty()) {
            return cannot(why);
        }
    }
    if (!foreground.empty()) {
        return 0;
    }
    if (!parts.Manager.Runs()) {
        return cannot("systemd is not running here, and no \"TarvokSvc run\" of " +
                      parts.Paths.ProgramDir + " runs");
    }
    if (const std::string why = parts.Manager.ControlService(ServiceName, control); !why.empty()) {
        return cannot(why);
    }
    return 0;
}

} // namespace

int Status(const TCall& call) {
    const TStatus status = StatusNow(call.Parts);
    if (call.Has("--json")) {
        call.Parts.Out << JsonText({{"service", status.Service},
                                    {"manager", status.Manager},
                                    {"foreground_process", status.ForegroundProcess != 0
                                                               ? TJson(status.ForegroundProcess)
                                                               : TJson(nullptr)}})
                       << '\n';
        return 0;
    }
    call.Parts.Out << "Service: " << status.Service;
    if (status.ForegroundProcess != 0) {
        call.Parts.Out << " (run by hand, process " << status.ForegroundProcess << ")";
    }
    call.Parts.Out << "\nManager: " << status.Manager << '\n';
    return 0;
}

int Pause(const TCall& call) {
    return SendControl(call, platform::ServiceControlCode::Pause, "pause");
}

int Continue(const TCall& call) {
    return SendControl(call, platform::ServiceControlCode::Continue, "continue");
}

} // namespace tarvok::ctl
