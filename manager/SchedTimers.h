// The main window's two timers, made exact: the scheduler's OnTimer at each whole second of the
// wall clock, and its DrainMessages as soon as the manager's slot has something.
//
// A timer that simply fires every 1000 ms drifts against the wall clock: a tick at 59.9995 s
// and the next at 61.0005 s miss a minute's first second, and that minute's tasks never start.
// Each tick here is timed anew from the clock's reading, and the next one is set before the
// scheduler works, so a slow second is followed at once by the one it ran into. The slot is not
// polled: its reader thread's arrival hook hands a drain to the window thread, one at a time,
// so an idle manager wakes only for the clock.
//
//   TSchedulerTimers timers(scheduler, clock, window);
//   timers.Start(true);                   // the end of start-up
#pragma once

#include "manager/Scheduler.h"
#include "shared/Clock.h"

#include <QObject>
#include <QTimer>
#include <memory>

namespace tarvok {

class TSchedulerTimers final : public QObject {
public:
    // Nothing runs before Start. The scheduler and the clock must outlive the timers.
    TSchedulerTimers(TScheduler& scheduler, const TClock& clock, QObject* parent = nullptr);
    // Stops the slot's hook; a hook call already under way finds the timers gone and does
    // nothing.
    ~TSchedulerTimers() override;

    // The first tick at the next whole second. With readMessages the slot is read from now on,
    // what already waits at once; without (a platform without the service), never.
    void Start(bool readMessages);
    // Holds the ticks while a question is open (true) and lets them go on from the next whole
    // second (false), if they ran before; the messages are read all the while. A minute whose
    // first second passes meanwhile is not tested.
    void Hold(bool hold);
    bool Ticking() const { return timer_.isActive(); }
    bool ReadsMessages() const { return readsMessages_; }

private:
    struct TRelay;
    void Tick();
    void Drain();

    TScheduler& scheduler_;
    const TClock& clock_;
    QTimer timer_;
    std::shared_ptr<TRelay> relay_;
    bool readsMessages_ = false;
    bool tickedBeforeHold_ = false;
};

} // namespace tarvok
