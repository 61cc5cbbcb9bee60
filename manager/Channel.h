// The manager's side of the slots: finding who runs, its own receiving slot "TarvokClient", and
// sending to the service. The real one is SlotChannel(); tests give a fake.
//
//   if (channel.SlotExists(ServiceSlotName)) ...          // the service runs
//   channel.OpenClientSlot();
//   channel.Send(FormatMessage(TMessageCode::ClientConnected));
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tarvok {

class TManagerChannel {
public:
    virtual ~TManagerChannel() = default;
    // True when some program owns the slot of that name.
    virtual bool SlotExists(std::string_view name) = 0;
    // Makes the manager's receiving slot; false when another program owns it.
    virtual bool OpenClientSlot() = 0;
    virtual void CloseClientSlot() = 0;
    // The oldest message waiting in the manager's slot, or an empty text.
    virtual std::string ReadMessage() = 0;
    // Called from another thread whenever messages arrived in the manager's slot.
    virtual void SetArrivalHook(std::function<void()> hook) = 0;
    // To the service's slot; false when nobody received it (the message is lost).
    virtual bool Send(std::string_view message) = 0;
};

// Through the real slots; the manager's slot keeps only the messages of the program
// directory's administrators, as the service's does.
std::unique_ptr<TManagerChannel> SlotChannel();

} // namespace tarvok
