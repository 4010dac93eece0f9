#include "frame/error_text.h"

#include "frame/error.h"

#include <utility>

namespace corvane {

namespace {

bool is_digit(wchar_t character)
{
    return character >= L'0' && character <= L'9';
}

}  // namespace

int reply_code(std::wstring_view reply)
{
    if (reply.size() < 3 || reply[0] < L'1' || reply[0] > L'5' || !is_digit(reply[1]) || !is_digit(reply[2]))
        return 0;
    if (reply.size() > 3 && reply[3] != L' ' && reply[3] != L'-')
        return 0;
    return (reply[0] - L'0') * 100 + (reply[1] - L'0') * 10 + (reply[2] - L'0');
}

std::wstring early_end_reason(unsigned long long arrived, unsigned long long announced)
{
    return L"The transfer ended early: " + std::to_wstring(arrived) + L" of " + std::to_wstring(announced) +
           L" bytes arrived.";
}

void raise_with_reason(const ErrorCode& error, std::wstring_view reason)
{
    std::wstring description(error.message);
    description += L' ';
    description += reason;
    raise(error, std::move(description));
}

}  // namespace corvane
