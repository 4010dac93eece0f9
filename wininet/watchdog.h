#pragma once
// A bound for blocking platform calls that does not depend on the platform
// honouring its own timeout options: a wait that is not ended in time has
// its handle closed by a pool thread, which is the documented way to end a
// call blocked on a handle from another thread.
//
// One watchdog serves every wait on its handle in turn: arming and
// disarming only note the time under a lock, and the timer is set again
// only when it comes due, so that a transfer's thousands of reads cost no
// timer of their own.

#include "wininet/wininet.h"

#include <mutex>

namespace corvane {

class Watchdog {
public:
    // Armed at once for `milliseconds` unless `armed` is false.
    // `handle` stays the caller's to close unless the watchdog fired.
    Watchdog(HINTERNET handle, DWORD milliseconds, bool armed = true);
    // Cancels the timer and waits for a callback under way.
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // A wait begins: the handle is closed unless disarm() comes within
    // `milliseconds`.
    void arm(DWORD milliseconds);
    // The wait ended. Once this returns nothing touches the handle for it.
    // True when the handle was closed, now or in an earlier wait: the
    // caller must never close it again. The calling thread's last-error
    // code is kept for the caller's failure report.
    bool disarm();

private:
    static void CALLBACK expire(PTP_CALLBACK_INSTANCE instance, PVOID context, PTP_TIMER timer);
    void set_timer(ULONGLONG milliseconds);

    HINTERNET handle_;
    PTP_TIMER timer_ = nullptr;
    std::mutex mutex_;
    ULONGLONG allowance_ = 0;
    ULONGLONG armed_at_ = 0;
    ULONGLONG due_at_ = 0;
    bool armed_ = false;
    bool timer_set_ = false;
    bool fired_ = false;
};

}  // namespace corvane
