#include "frame/error_text.h"

#include "frame/error.h"
#include "frame/platform.h"
#include "frame/text.h"

#include <array>
#include <vector>
#include <cstring>

namespace corvane {

namespace {

constexpr DWORD format_from_module_then_system = 0x1800;
constexpr DWORD message_capacity = 256;
constexpr DWORD buffer_capacity = 2048;
constexpr LONG extended_error = 12003;

}  // namespace

std::wstring GetErrorText(LONG code, std::wstring_view procedure_name)
{
    std::array<char, buffer_capacity> buffer{};
    HMODULE wininet = platform().GetModuleHandleA("wininet.dll");

    // No inserts are meant, but a message that has some reads zeros here
    // instead of whatever the stack holds.
    std::array<DWORD_PTR, 100> zeros{};
    va_list arguments = reinterpret_cast<va_list>(zeros.data());
    platform().FormatMessageA(format_from_module_then_system, wininet, static_cast<DWORD>(code), 0, buffer.data(),
                              message_capacity, &arguments);

    std::wstring text(procedure_name);
    text += L" error code: ";
    text += std::to_wstring(code);
    text += L" Message: ";
    text += from_ansi_buffer(buffer.data(), buffer.size());

    if (code == extended_error) {
        // With no reply on record the composed text says more than nothing.
        std::wstring response = last_response_text();
        if (!response.empty())
            text = std::move(response);
    }
    return text;
}

std::wstring last_response_text()
{
    // Long multi-line replies do not fit the usual buffer: the platform
    // then says how much it needs.
    std::vector<char> buffer(buffer_capacity, '\0');
    DWORD response_error = 0;
    DWORD length = buffer_capacity;
    if (!platform().InternetGetLastResponseInfoA(&response_error, buffer.data(), &length) &&
        platform().GetLastError() == ERROR_INSUFFICIENT_BUFFER && length > buffer.size()) {
        buffer.assign(length + 1, '\0');
        length = static_cast<DWORD>(buffer.size());
        platform().InternetGetLastResponseInfoA(&response_error, buffer.data(), &length);
    }
    return from_ansi_buffer(buffer.data(), buffer.size());
}

void raise_platform_failure(HRESULT number, std::wstring_view source, std::wstring_view message,
                            std::wstring_view procedure_name)
{
    raise_platform_error(number, source, message, static_cast<LONG>(platform().GetLastError()), procedure_name);
}

void raise_platform_error(HRESULT number, std::wstring_view source, std::wstring_view message, LONG code,
                          std::wstring_view procedure_name)
{
    std::wstring description(message);
    description += GetErrorText(code, procedure_name);
    raise(number, source, std::move(description));
}

}  // namespace corvane
