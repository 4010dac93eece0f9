#include "wininet/watchdog.h"

#include "wininet/platform.h"

#include <new>

namespace corvane {

Watchdog::Watchdog(HINTERNET handle, DWORD milliseconds, bool armed) : handle_(handle)
{
    timer_ = CreateThreadpoolTimer(&Watchdog::expire, this, nullptr);
    if (!timer_)
        throw std::bad_alloc();
    if (armed)
        arm(milliseconds);
}

Watchdog::~Watchdog()
{
    {
        const std::lock_guard lock(mutex_);
        armed_ = false;
    }
    SetThreadpoolTimer(timer_, nullptr, 0, 0);
    WaitForThreadpoolTimerCallbacks(timer_, TRUE);
    CloseThreadpoolTimer(timer_);
}

void Watchdog::set_timer(ULONGLONG milliseconds)
{
    // Relative due times are negative, in 100-nanosecond units.
    ULARGE_INTEGER due;
    due.QuadPart = static_cast<ULONGLONG>(-static_cast<LONGLONG>(milliseconds) * 10000);
    FILETIME due_time;
    due_time.dwLowDateTime = due.LowPart;
    due_time.dwHighDateTime = due.HighPart;
    SetThreadpoolTimer(timer_, &due_time, 0, 0);
    timer_set_ = true;
    due_at_ = GetTickCount64() + milliseconds;
}

void Watchdog::arm(DWORD milliseconds)
{
    const DWORD code = ::GetLastError();
    const std::lock_guard lock(mutex_);
    if (!fired_) {
        armed_ = true;
        allowance_ = milliseconds;
        armed_at_ = GetTickCount64();
        // A timer still set for an earlier wait that comes due before this
        // one ends is set again then for what is left; one due later is
        // set anew.
        if (!timer_set_ || armed_at_ + allowance_ < due_at_)
            set_timer(allowance_);
    }
    ::SetLastError(code);
}

bool Watchdog::disarm()
{
    const DWORD code = ::GetLastError();
    bool fired = false;
    {
        const std::lock_guard lock(mutex_);
        armed_ = false;
        fired = fired_;
    }
    ::SetLastError(code);
    return fired;
}

void CALLBACK Watchdog::expire(PTP_CALLBACK_INSTANCE, PVOID context, PTP_TIMER)
{
    auto* watchdog = static_cast<Watchdog*>(context);
    const std::lock_guard lock(watchdog->mutex_);
    watchdog->timer_set_ = false;
    if (!watchdog->armed_ || watchdog->fired_)
        return;
    const ULONGLONG waited = GetTickCount64() - watchdog->armed_at_;
    if (waited < watchdog->allowance_) {
        watchdog->set_timer(watchdog->allowance_ - waited);
        return;
    }
    // Closed under the lock: a disarm that comes now waits for it, and
    // then knows the handle is gone.
    watchdog->fired_ = true;
    wininet().InternetCloseHandle(watchdog->handle_);
}

}  // namespace corvane
