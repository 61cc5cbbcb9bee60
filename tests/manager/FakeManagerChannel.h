// The slots as a manager test plays them: which other programs own a slot, what the manager
// sent to the service, and what waits in the manager's own slot.
#pragma once

#include "manager/Channel.h"

#include <deque>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tarvok::testing_support {

class TFakeManagerChannel final : public TManagerChannel {
public:
    std::set<std::string, std::less<>> Owned; // slot names other programs own
    bool ClientTaken = false;                 // the manager's slot is taken as it is made
    bool ClientOpen = false;
    std::deque<std::string> Inbox;
    std::vector<std::string> Sent;
    std::function<void()> Arrived;

    bool SlotExists(std::string_view name) override { return Owned.contains(name); }
    bool OpenClientSlot() override {
        ClientOpen = !ClientTaken;
        return ClientOpen;
    }
    void CloseClientSlot() override { ClientOpen = false; }
    std::string ReadMessage() override {
        if (Inbox.empty()) {
            return {};
        }
        std::string message = std::move(Inbox.front());
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
