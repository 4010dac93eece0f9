#pragma once
// The owner of a WinInet handle, one more kind of frame/handles.h's owner.

#include "frame/handles.h"
#include "wininet/platform.h"

namespace corvane {

namespace handle_closers {

// Through the seam, so that tests see and count every close.
inline bool internet(HINTERNET handle)
{
    return wininet().InternetCloseHandle(handle) != FALSE;
}

}  // namespace handle_closers

using InternetHandle = UniqueHandle<HINTERNET, handle_closers::internet>;

}  // namespace corvane
