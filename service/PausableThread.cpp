#include "service/PausableThread.h"

#include <algorithm>

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
        due_ = lastPass_ = NextPassAfter(now, now);
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

void TPausableThread::Request(TWake wake) {
    std::lock_guard lock(mutex_);
    // Once is enough: a flood of wakes must not keep the waiting thread busy.
    if (wake > woken_) {
        woken_ = wake;
        wokenDue_.reset();
        wake_.notify_all();
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
    // Asked outside the lock: the answer rests on what the passes keep, not on shared state.
    const TPassClock::duration quiet = passed_ ? QuietSpan() : TPassClock::duration::zero();
    std::unique_lock lock(mutex_);
    if (passed_ && quiet > TPassClock::duration::zero()) {
        due_ = std::max(due_, TPassClock::now() + quiet);
    }
    passed_ = false;
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
        if (woken_ != TWake::None && !wokenDue_) {
            wokenDue_ = woken_ == TWake::AtOnce ? now : NextPassAfter(lastPass_, now);
        }
        const auto due = wokenDue_ ? std::min(due_, *wokenDue_) : due_;
        if (now >= due) {
            woken_ = TWake::None;
            wokenDue_.reset();
            lastPass_ = due;
            due_ = NextPassAfter(due, now);
            passed_ = true;
            return true;
        }
        wake_.wait_until(lock, due);
    }
}

} // namespace tarvok
