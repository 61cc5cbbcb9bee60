// The slots as a manager test plays them: which other programs own a slot, what the manager
// sent to the service, and what waits in the manager's own slot.
#pragma once

#include "manager/Channel.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tarvok::testing_support {

class TFakeManagerChannel final : public TManagerChannel {
public:
    std::set<std::string, std::less<>> Owned;          // slot names other programs own
    TSlotOpening ClientOpening = TSlotOpening::Opened; // what making the manager's slot finds
    bool ClientOpen = false;
    std::deque<std::string> Inbox;
    std::vector<std::string> Sent;
    std::function<void()> Arrived;
    std::uint32_t SenderUid = 0; // every message comes from the service, as root

    bool SlotExists(std::string_view name) override { return Owned.contains(name); }
    TSlotOpening OpenClientSlot() override {
        ClientOpen = ClientOpening == TSlotOpening::Opened;
        return ClientOpening;
    }
    void CloseClientSlot() override { ClientOpen = false; }
    TSlotMessage Receive() override {
        if (Inbox.empty()) {
            return {};
        }
        TSlotMessage message{std::move(Inbox.front()), SenderUid};
        Inbox.pop_front();
        return message;
    }
    void SetArrivalHook(std::function<void()> hook) override { Arrived = std::move(hook); }
    bool Send(std::string_view message) override {
        Sent.emplace_back(message);
        return Owned.contains("TarvokService");
    }
};

} // namespace tarvok::testing_support
