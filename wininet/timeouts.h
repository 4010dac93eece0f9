#pragma once
// How long a platform call may wait on a server. Unbounded, a server that
// accepts and never answers would hold the web server's request thread for
// good.

#include "wininet/platform.h"

#include <span>

namespace corvane {

// Every connect, send and receive wait, control and data channel alike.
inline constexpr DWORD default_timeout_milliseconds = 60000;

// Sets each option on the handle. Stops at the first the platform refuses
// and returns false, its last-error code left for the caller to read.
inline bool set_timeouts(HINTERNET handle, std::span<const DWORD> options,
                         DWORD milliseconds = default_timeout_milliseconds)
{
    for (const DWORD option : options) {
        DWORD value = milliseconds;
        if (!wininet().InternetSetOptionA(handle, option, &value, sizeof value))
            return false;
    }
    return true;
}

}  // namespace corvane
