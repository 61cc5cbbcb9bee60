#include "platform/posix/SystemdUnits.h"

#include "platform/ErrorText.h"

#include <memory>
#include <systemd/sd-bus.h>
#include <unistd.h>

namespace tarvok::platform::systemd {

namespace {

constexpr const char* Destination = "org.freedesktop.systemd1";
constexpr const char* ObjectPath = "/org/freedesktop/systemd1";
constexpr const char* Interface = "org.freedesktop.systemd1.Manager";
// The manager's own socket, open to root only; it answers where no message bus runs.
constexpr const char* PrivateAddress = "unix:path=/run/systemd/private";

struct TBusClose {
    void operator()(sd_bus* bus) const { ::sd_bus_flush_close_unref(bus); }
};
using TBus = std::unique_ptr<sd_bus, TBusClose>;

// A call's failure, freed however the call ends.
class TBusError {
public:
    TBusError() = default;
    TBusError(const TBusError&) = delete;
    TBusError& operator=(const TBusError&) = delete;
    ~TBusError() { ::sd_bus_error_free(&error_); }

    sd_bus_error* Get() { return &error_; }
    // The manager's words when it gave some, else the system's text for the result.
    std::string Text(int result) const {
        if (::sd_bus_error_is_set(&error_) && error_.message != nullptr) {
            return error_.message;
        }
        return ErrorText(-result);
    }

private:
    sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

int OpenPrivate(TBus& bus) {
    sd_bus* raw = nullptr;
    int result = ::sd_bus_new(&raw);
    if (result < 0) {
        return result;
    }
    bus.reset(raw);
    result = ::sd_bus_set_address(raw, PrivateAddress);
    return result < 0 ? result : ::sd_bus_start(raw);
}

// Root talks to the manager directly, as systemctl does; others go through the message bus,
// where the manager may ask an authentication agent whether the caller may act.
int Connect(TBus& bus) {
    if (::geteuid() == 0 && OpenPrivate(bus) >= 0) {
        return 0;
    }
    sd_bus* raw = nullptr;
    const int result = ::sd_bus_open_system(&raw);
    bus.reset(raw);
    if (result >= 0) {
        ::sd_bus_set_allow_interactive_authorization(raw, 1);
    }
    return result;
}

} // namespace

int DisableUnit(const std::string& unit) {
    TBus bus;
    if (int result = Connect(bus); result < 0) {
        return -result;
    }
    TBusError error;
    const char* units[] = {unit.c_str(), nullptr};
    sd_bus_message* call = nullptr;
    int result = ::sd_bus_message_new_method_call(bus.get(), &call, Destination, ObjectPath,
                                                  Interface, "DisableUnitFiles");
    if (result >= 0) {
        result = ::sd_bus_message_append_strv(call, const_cast<char**>(units));
    }
    if (result >= 0) {
        result = ::sd_bus_message_append(call, "b", 0); // runtime links are none of ours
    }
    if (result >= 0) {
        result = ::sd_bus_call(bus.get(), call, 0, error.Get(), nullptr);
    }
    ::sd_bus_message_unref(call);
    return result < 0 ? -result : 0;
}

std::string KillMainProcess(const std::string& unit, int signal) {
    TBus bus;
    if (int result = Connect(bus); result < 0) {
        return "cannot reach systemd: " + ErrorText(-result);
    }
    TBusError error;
    const int result =
        ::sd_bus_call_method(bus.get(), Destination, ObjectPath, Interface, "KillUnit", error.Get(),
                             nullptr, "ssi", unit.c_str(), "main", signal);
    return result < 0 ? error.Text(result) : std::string();
}

} // namespace tarvok::platform::systemd
