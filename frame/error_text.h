#pragma once

#include "frame/win32.h"

#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// The platform's text for a WinInet or system error code, composed as
// "<procedure> error code: <code> Message: <text>".
// A server reply explains a failure only when it is a negative one (4xx or
// 5xx): for 12003 (extended error) such a reply replaces the composed text;
// for a code the platform has no text for, it stands in for the text, but
// only when a PlatformStep is running and the reply is new since it began.
std::wstring GetErrorText(LONG code, std::wstring_view procedure_name);

// The server's last reply as the platform recorded it for this thread, up
// to its first NUL; empty when there is none.
std::wstring last_response_text();

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

// The three-digit code a reply opens with; 0 for text that is no reply.
int reply_code(std::wstring_view reply);

// After an FTP transfer has ended and its handle is closed: why it cannot
// count as complete, judged by the reply the platform recorded last, or
// nothing when it can. An empty record says nothing either way.
std::optional<std::wstring> incomplete_transfer_reason();

// "The transfer ended early: <arrived> of <announced> bytes arrived."
std::wstring early_end_reason(unsigned long long arrived, unsigned long long announced);

// For a platform call that just failed: reads its last-error code before
// anything else can change it and raises the member's message followed
// directly by the error text.
[[noreturn]] void raise_platform_failure(HRESULT number, std::wstring_view source, std::wstring_view message,
                                         std::wstring_view procedure_name);

// The same, for a last-error code the caller has already read.
[[noreturn]] void raise_platform_error(HRESULT number, std::wstring_view source, std::wstring_view message, LONG code,
                                       std::wstring_view procedure_name);

// A failure the platform did not report: the member's message, one space,
// and the plain reason.
[[noreturn]] void raise_with_reason(HRESULT number, std::wstring_view source, std::wstring_view message,
                                    std::wstring_view reason);

}  // namespace corvane
