#include "service/PausableThread.h"

namespace tarvok {

TPausableThread::TPausableThread(TPassClock::duration interval) : interval_(interval) {}

TPausableThread::~TPausableThread() {
    Terminate();
    WaitFor();
}

void TPausableThread::Resume() {
    std::lock_guard lock(mutex_);
    held_ = false;
    if (!started_) {
        started_ = true;
        const auto now = TPassClock::now();
        due_ = NextPassAfter(now, now);
        thread_ = std::thread([this] { Execute(); });
    }
    wake_.notify_all();
}

void TPausableThread::Hold() {
    std::lock_guard lock(mutex_);
    held_ = true;
    wake_.notify_all();
}

void TPausableThread::Terminate() {
    std::lock_guard lock(mutex_);
    terminated_ = true;
    wake_.notify_all();
}

void TPausableThread::WaitFor() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
        thread_.join();
    }
}

bool TPausableThread::Terminated() const {
    std::lock_guard lock(mutex_);
    return terminated_;
}

TPassClock::time_point TPausableThread::NextPassAfter(TPassClock::time_point previous,
                                                      TPassClock::time_point now) const {
    return NextPassDue(previous, interval_, now);
}

void TPausableThread::Execute() {
    while (NextPass()) {
        Poll();
    }
}

bool TPausableThread::NextPass() {
    std::unique_lock lock(mutex_);
    bool noted = false;
    for (;;) {
        if (terminated_) {
            return false;
        }
        if (held_) {
            if (!noted) {
                noted = true;
                lock.unlock();
                OnHeld();
                lock.lock();
            } else {
                wake_.wait(lock);
            }
            continue;
        }
        noted = false;
        const auto now = TPassClock::now();
        if (now >= due_) {
            due_ = NextPassAfter(due_, now);
            return true;
        }
        wake_.wait_until(lock, due_);
    }
}

} // namespace tarvok
