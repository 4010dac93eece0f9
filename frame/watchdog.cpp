#include "frame/watchdog.h"

#include "frame/platform.h"

#include <new>

namespace corvane {

Watchdog::Watchdog(HINTERNET handle, DWORD milliseconds) : handle_(handle)
{
    timer_ = CreateThreadpoolTimer(&Watchdog::expire, this, nullptr);
    if (!timer_)
        throw std::bad_alloc();
    // Relative due times are negative, in 100-nanosecond units.
    ULARGE_INTEGER due;
    due.QuadPart = static_cast<ULONGLONG>(-static_cast<LONGLONG>(milliseconds) * 10000);
    FILETIME due_time;
    due_time.dwLowDateTime = due.LowPart;
    due_time.dwHighDateTime = due.HighPart;
    SetThreadpoolTimer(timer_, &due_time, 0, 0);
}

Watchdog::~Watchdog()
{
    disarm();
}

bool Watchdog::disarm()
{
    if (timer_) {
        const DWORD code = ::GetLastError();
        SetThreadpoolTimer(timer_, nullptr, 0, 0);
        WaitForThreadpoolTimerCallbacks(timer_, TRUE);
        CloseThreadpoolTimer(timer_);
        timer_ = nullptr;
        ::SetLastError(code);
    }
    return fired_.load();
}

void CALLBACK Watchdog::expire(PTP_CALLBACK_INSTANCE, PVOID context, PTP_TIMER)
{
    auto* watchdog = static_cast<Watchdog*>(context);
    // Marked first: the blocked call may return the moment the handle goes.
    watchdog->fired_.store(true);
    platform().InternetCloseHandle(watchdog->handle_);
}

}  // namespace corvane
