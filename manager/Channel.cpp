#include "manager/Channel.h"

#include "shared/MailSlot.h"
#include "shared/Protocol.h"

namespace tarvok {

namespace {

class TSlotChannel final : public TManagerChannel {
public:
    bool SlotExists(std::string_view name) override { return tarvok::SlotExists(name); }

    TSlotOpening OpenClientSlot() override {
        if (!client_) {
            auto slot = std::make_unique<TMailSlot>(ClientSlotName);
            if (slot->CreationFailed()) {
                return slot->InUse() ? TSlotOpening::Taken : TSlotOpening::OutOfReach;
            }
            client_ = std::move(slot);
        }
        return TSlotOpening::Opened;
    }

    void CloseClientSlot() override { client_.reset(); }

    TSlotMessage Receive() override { return client_ ? client_->Receive() : TSlotMessage(); }

    void SetArrivalHook(std::function<void()> hook) override {
        if (client_) {
            client_->SetArrivalHook(std::move(hook));
        }
    }

    bool Send(std::string_view message) override {
        return SendSlotMessage(ServiceSlotName, message);
    }

private:
    std::unique_ptr<TMailSlot> client_;
};

} // namespace

std::unique_ptr<TManagerChannel> SlotChannel() {
    return std::make_unique<TSlotChannel>();
}

} // namespace tarvok
