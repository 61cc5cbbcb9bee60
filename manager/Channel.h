// The manager's side of the slots: finding who runs, its own receiving slot "TarvokClient", and
// sending to the service. The real one is SlotChannel(); tests give a fake.
//
//   if (channel.SlotExists(ServiceSlotName)) ...          // the service runs
//   if (channel.OpenClientSlot() == TSlotOpening::Opened) ...
//   channel.Send(FormatMessage(TMessageCode::ClientConnected));
#pragma once

#include "shared/MailSlot.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tarvok {

enum class TSlotOpening {
    Opened,
    Taken,      // another program owns the slot
    OutOfReach, // the slots cannot be reached (not an administrator, as far as the system knows)
};

class TManagerChannel {
public:
    virtual ~TManagerChannel() = default;
    // True when some program owns the slot of that name.
    virtual bool SlotExists(std::string_view name) = 0;
    // Makes the manager's receiving slot.
    virtual TSlotOpening OpenClientSlot() = 0;
    virtual void CloseClientSlot() = 0;
    // The oldest message waiting in the manager's slot, with the account that sent it (whose a
    // process handed over with "TS" must be), or an empty text.
    virtual TSlotMessage Receive() = 0;
    std::string ReadMessage() { return Receive().Text; }
    // Called from another thread whenever messages arrived in the manager's slot.
    virtual void SetArrivalHook(std::function<void()> hook) = 0;
    // To the service's slot; false when nobody received it (the message is lost).
    virtual bool Send(std::string_view message) = 0;
};

// Through the real slots; the manager's slot keeps only the messages of the program
// directory's administrators, as the service's does.
std::unique_ptr<TManagerChannel> SlotChannel();

} // namespace tarvok
