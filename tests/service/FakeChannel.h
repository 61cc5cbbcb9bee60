// The manager's side of the service's slots as a test plays it: what it has sent and not yet
// been read (all of it as SenderUid), what the service told it, and how many messages the slot
// refused.
#pragma once

#include "service/SvcThd.h"
#include "shared/Protocol.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tarvok::testing_support {

class TFakeChannel final : public TSchedulerChannel {
public:
    TFakeChannel(std::deque<std::string>& inbox, std::vector<std::string>& sent,
                 std::size_t* refused = nullptr)
        : inbox_(inbox), sent_(sent), refused_(refused) {}

    TSlotMessage ReadMessage() override {
        if (inbox_.empty()) {
            return {};
        }
        TSlotMessage message{std::move(inbox_.front()), SenderUid};
        inbox_.pop_front();
        return message;
    }
    void SendToClient(const std::string& message) override { sent_.push_back(message); }
    // Recorded among the manager's messages, after the slot's name.
    void SendReply(std::int32_t replyTo, const std::string& message) override {
        sent_.push_back(ReplySlotName(replyTo) + " " + message);
    }
    std::size_t TakeRefused() override { return refused_ ? std::exchange(*refused_, 0) : 0; }
    void SetArrivalHook(std::function<void()> hook) override { Arrived = std::move(hook); }

    std::function<void()> Arrived;
    std::uint32_t SenderUid = 1000;

private:
    std::deque<std::string>& inbox_;
    std::vector<std::string>& sent_;
    std::size_t* refused_;
};

} // namespace tarvok::testing_support
