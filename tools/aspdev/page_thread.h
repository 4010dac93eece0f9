#pragma once
// The one thread pages run on, in its own apartment, and the watchdog that
// stops a page running past its time.

#include "frame/win32.h"

#include <functional>
#include <mutex>

namespace corvane::aspdev {

class PageThread {
public:
    enum class Outcome { finished, interrupted, killed };

    PageThread() = default;
    PageThread(const PageThread&) = delete;
    PageThread& operator=(const PageThread&) = delete;
    ~PageThread();

    // Runs `job` on the page thread and waits. Past `limit_ms()` (read as
    // it runs: the page may change it) `interrupt` is called; a job still
    // running 3 s later has its thread ended, and the next job gets a new
    // one. After `killed` nothing the job touched may be used.
    Outcome run(const std::function<void()>& job, const std::function<unsigned long long()>& limit_ms,
                const std::function<void()>& interrupt);

private:
    static DWORD WINAPI thread_main(void* self);
    void start();

    HANDLE thread_ = nullptr;
    HANDLE work_ = nullptr;
    HANDLE done_ = nullptr;
    const std::function<void()>* job_ = nullptr;
    bool quit_ = false;
};

}  // namespace corvane::aspdev
