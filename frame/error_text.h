#pragma once

#include "frame/win32.h"

#include <string>
#include <string_view>

namespace corvane {

// The platform's text for a WinInet or system error code, composed as
// "<procedure> error code: <code> Message: <text>". For 12003 (extended
// error) the detail is the server's last reply, which replaces it all.
std::wstring GetErrorText(LONG code, std::wstring_view procedure_name);

// The server's last reply as the platform recorded it for this thread, up
// to its first NUL; empty when there is none.
std::wstring last_response_text();

// For a platform call that just failed: reads its last-error code before
// anything else can change it and raises the member's message followed
// directly by the error text.
[[noreturn]] void raise_platform_failure(HRESULT number, std::wstring_view source, std::wstring_view message,
                                         std::wstring_view procedure_name);

// The same, for a last-error code the caller has already read.
[[noreturn]] void raise_platform_error(HRESULT number, std::wstring_view source, std::wstring_view message, LONG code,
                                       std::wstring_view procedure_name);

}  // namespace corvane
