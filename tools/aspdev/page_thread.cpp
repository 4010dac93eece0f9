#include "tools/aspdev/page_thread.h"

#include "frame/error.h"

namespace corvane::aspdev {

namespace {

constexpr DWORD grace_after_interrupt_ms = 3000;
constexpr DWORD poll_ms = 100;

HANDLE new_event()
{
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!event)
        check_com(HRESULT_FROM_WIN32(GetLastError()));
    return event;
}

}  // namespace

PageThread::~PageThread()
{
    if (thread_) {
        quit_ = true;
        SetEvent(work_);
        WaitForSingleObject(thread_, 5000);
        CloseHandle(thread_);
    }
    if (work_)
        CloseHandle(work_);
    if (done_)
        CloseHandle(done_);
}

DWORD WINAPI PageThread::thread_main(void* self)
{
    auto& page_thread = *static_cast<PageThread*>(self);
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    for (;;) {
        WaitForSingleObject(page_thread.work_, INFINITE);
        if (page_thread.quit_)
            break;
        (*page_thread.job_)();
        SetEvent(page_thread.done_);
    }
    if (SUCCEEDED(initialised))
        CoUninitialize();
    return 0;
}

void PageThread::start()
{
    if (!work_)
        work_ = new_event();
    if (!done_)
        done_ = new_event();
    ResetEvent(work_);
    ResetEvent(done_);
    thread_ = CreateThread(nullptr, 0, &PageThread::thread_main, this, 0, nullptr);
    if (!thread_)
        check_com(HRESULT_FROM_WIN32(GetLastError()));
}

PageThread::Outcome PageThread::run(const std::function<void()>& job,
                                    const std::function<unsigned long long()>& limit_ms,
                                    const std::function<void()>& interrupt)
{
    if (!thread_)
        start();
    job_ = &job;
    SetEvent(work_);
    const ULONGLONG started = GetTickCount64();
    while (WaitForSingleObject(done_, poll_ms) == WAIT_TIMEOUT) {
        if (GetTickCount64() - started < limit_ms())
            continue;
        interrupt();
        if (WaitForSingleObject(done_, grace_after_interrupt_ms) == WAIT_OBJECT_0)
            return Outcome::interrupted;
        // The engine would not stop (a platform without InterruptScriptThread,
        // or a call that never returns): the thread goes, and with it
        // whatever it held.
        TerminateThread(thread_, 1);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
        return Outcome::killed;
    }
    return Outcome::finished;
}

}  // namespace corvane::aspdev
