#pragma once

#include <windows.h>

namespace corvane::bench {

// Seconds on the performance counter.
inline double now_seconds()
{
    static const double frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return static_cast<double>(value.QuadPart);
    }();
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return static_cast<double>(value.QuadPart) / frequency;
}

}  // namespace corvane::bench
