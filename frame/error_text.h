#pragma once
// Error texts that need no platform: reply codes, the component's own
// reasons. The platform's texts for its codes are wininet/error_text.h's.

#include "frame/error_code.h"

#include <string>
#include <string_view>

namespace corvane {

// The three-digit code a reply opens with; 0 for text that is no reply.
int reply_code(std::wstring_view reply);

// "The transfer ended early: <arrived> of <announced> bytes arrived."
std::wstring early_end_reason(unsigned long long arrived, unsigned long long announced);

// A failure the platform did not report: the entry's message, one space,
// and the plain reason.
[[noreturn]] void raise_with_reason(const ErrorCode& error, std::wstring_view reason);

}  // namespace corvane
