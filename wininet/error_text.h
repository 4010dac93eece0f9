#pragma once
// The platform's texts for its error codes, from WinInet's message table
// and its per-thread record of the server's last reply.

#include "frame/error_code.h"
#include "wininet/wininet.h"

#include <string>
#include <string_view>

namespace corvane {

// The platform's text for a WinInet or system error code, composed as
// "<procedure> error code: <code> Message: <text>".
// A server reply explains a failure only when it is a negative one (4xx or
// 5xx): for 12003 (extended error) such a reply replaces the composed text;
// for a code the platform has no text for, it stands in for the text, but
// only when a PlatformStep is running and the reply is new since it began.
std::wstring error_text(LONG code, std::wstring_view procedure_name);
// The same for a step whose reply is known (an engine of the component's
// own): `reply` in place of the platform's record.
std::wstring error_text(LONG code, std::wstring_view procedure_name, std::wstring_view reply);

// The server's last reply as the platform recorded it for this thread, up
// to its first NUL; empty when there is none.
std::wstring last_response_text();
// The same as the bytes the server sent.
std::string last_response_bytes();

// A platform call that may leave a server reply. The thread's record is
// noted first: it also holds older steps' replies, and other objects'.
class PlatformStep {
public:
    PlatformStep();
    ~PlatformStep();
    PlatformStep(const PlatformStep&) = delete;
    PlatformStep& operator=(const PlatformStep&) = delete;

    const std::wstring& reply_before() const { return reply_before_; }

private:
    std::wstring reply_before_;
    PlatformStep* outer_;
};

// For a platform call that just failed: reads its last-error code before
// anything else can change it and raises the entry's message followed
// directly by the error text.
[[noreturn]] void raise_platform_failure(const ErrorCode& error, std::wstring_view procedure_name);

// The same, for a last-error code the caller has already read.
[[noreturn]] void raise_platform_error(const ErrorCode& error, LONG code, std::wstring_view procedure_name);

// The same, with a message of the caller's making in place of the entry's.
[[noreturn]] void raise_platform_error(const ErrorCode& error, std::wstring_view message, LONG code,
                                       std::wstring_view procedure_name);

// A failure of a step whose reply is known: as raise_platform_error, with
// `reply` in place of the platform's record and our `reason`, when there is
// one, after one space.
[[noreturn]] void raise_step_error(const ErrorCode& error, LONG code, std::wstring_view procedure_name,
                                   std::wstring_view reply, std::wstring_view reason);

}  // namespace corvane
