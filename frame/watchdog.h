#pragma once
// A bound for one blocking platform call that does not depend on the
// platform honouring its own timeout options: unless disarmed in time, a
// pool thread closes the handle the call waits on, which is the documented
// way to end a call blocked on a handle from another thread.

#include "frame/win32.h"

#include <atomic>

namespace corvane {

class Watchdog {
public:
    // Armed at once. `handle` stays the caller's to close unless the
    // watchdog fired.
    Watchdog(HINTERNET handle, DWORD milliseconds);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // Cancels the timer and waits for a callback already under way, so
    // that nothing touches the handle once this returns. True when the
    // handle was closed: the caller must never close it again. The calling
    // thread's last-error code is kept for the caller's failure report.
    bool disarm();

private:
    static void CALLBACK expire(PTP_CALLBACK_INSTANCE instance, PVOID context, PTP_TIMER timer);

    HINTERNET handle_;
    PTP_TIMER timer_ = nullptr;
    std::atomic<bool> fired_{false};
};

}  // namespace corvane
