#include "wininet/error_text.h"

#include "frame/error.h"
#include "frame/error_text.h"
#include "frame/platform.h"
#include "frame/text.h"
#include "wininet/platform.h"

#include <array>
#include <cstring>
#include <utility>
#include <vector>

namespace corvane {

namespace {

constexpr DWORD format_from_module_then_system = 0x1800;
constexpr DWORD message_capacity = 256;
constexpr DWORD buffer_capacity = 2048;
constexpr LONG extended_error = 12003;

thread_local PlatformStep* current_step = nullptr;

// A positive reply (1xx to 3xx) never explains a failure.
bool is_negative_reply(std::wstring_view reply)
{
    return reply_code(reply) >= 400;
}

// Words for the failures a script author most needs to tell apart (which
// certificate check failed, a wait that ran out), for a platform whose
// message table lacks them (Wine's has none).
std::wstring_view own_text(LONG code)
{
    switch (code) {
    case 12002: return L"The operation timed out.";
    case 12037: return L"The server's certificate has expired or is not yet valid.";
    case 12038: return L"The server's certificate is for another host name.";
    case 12044: return L"The server asked for a client certificate.";
    case 12045: return L"The server's certificate was issued by an authority that is not trusted.";
    case 12055: return L"The server's certificate has more than one error.";
    case 12057: return L"The revocation of the server's certificate could not be checked.";
    case 12157: return L"The secure channel failed.";
    case 12175: return L"The secure connection could not be set up.";
    default: return {};
    }
}

}  // namespace

namespace {

// "<procedure> error code: <code> Message: <text>"; whether the platform
// had words for the code.
std::wstring composed_text(LONG code, std::wstring_view procedure_name, bool& platform_has_words)
{
    std::array<char, buffer_capacity> buffer{};
    HMODULE message_table = platform().GetModuleHandleA("wininet.dll");

    // No inserts are meant, but a message that has some reads zeros here
    // instead of whatever the stack holds.
    std::array<DWORD_PTR, 100> zeros{};
    va_list arguments = reinterpret_cast<va_list>(zeros.data());
    platform().FormatMessageA(format_from_module_then_system, message_table, static_cast<DWORD>(code), 0,
                              buffer.data(), message_capacity, &arguments);
    const std::wstring message = from_ansi_buffer(buffer.data(), buffer.size());
    platform_has_words = !message.empty() || !own_text(code).empty();

    std::wstring text(procedure_name);
    text += L" error code: ";
    text += std::to_wstring(code);
    text += L" Message: ";
    text += message.empty() ? std::wstring(own_text(code)) : message;
    return text;
}

}  // namespace

std::wstring error_text(LONG code, std::wstring_view procedure_name)
{
    bool has_words = false;
    std::wstring text = composed_text(code, procedure_name, has_words);
    if (code == extended_error) {
        // The platform names the reply as the explanation; with none that
        // explains anything the composed text says more.
        std::wstring response = last_response_text();
        return is_negative_reply(response) ? response : text;
    }
    // Where the platform has no words, the reply the failing step left may
    // have them (Wine: a 421 greeting ends the connect with 12110 and no
    // text). One that was there before the step belongs to another failure.
    if (!has_words && current_step) {
        std::wstring response = last_response_text();
        if (is_negative_reply(response) && response != current_step->reply_before())
            text += response;
    }
    return text;
}

std::wstring error_text(LONG code, std::wstring_view procedure_name, std::wstring_view reply)
{
    bool has_words = false;
    std::wstring text = composed_text(code, procedure_name, has_words);
    if (code == extended_error)
        return is_negative_reply(reply) ? std::wstring(reply) : text;
    if (!has_words && is_negative_reply(reply))
        text += reply;
    return text;
}

std::wstring last_response_text()
{
    return from_ansi(last_response_bytes());
}

std::string last_response_bytes()
{
    // Long multi-line replies do not fit the usual buffer: the platform
    // then says how much it needs.
    std::vector<char> buffer(buffer_capacity, '\0');
    DWORD response_error = 0;
    DWORD length = buffer_capacity;
    if (!wininet().InternetGetLastResponseInfoA(&response_error, buffer.data(), &length) &&
        platform().GetLastError() == ERROR_INSUFFICIENT_BUFFER && length > buffer.size()) {
        buffer.assign(length + 1, '\0');
        length = static_cast<DWORD>(buffer.size());
        wininet().InternetGetLastResponseInfoA(&response_error, buffer.data(), &length);
    }
    return std::string(up_to_nul(buffer.data(), buffer.size()));
}

PlatformStep::PlatformStep() : reply_before_(last_response_text()), outer_(std::exchange(current_step, this)) {}

PlatformStep::~PlatformStep()
{
    current_step = outer_;
}

void raise_platform_failure(const ErrorCode& error, std::wstring_view procedure_name)
{
    raise_platform_error(error, static_cast<LONG>(platform().GetLastError()), procedure_name);
}

void raise_platform_error(const ErrorCode& error, LONG code, std::wstring_view procedure_name)
{
    raise_platform_error(error, error.message, code, procedure_name);
}

void raise_platform_error(const ErrorCode& error, std::wstring_view message, LONG code,
                          std::wstring_view procedure_name)
{
    std::wstring description(message);
    description += error_text(code, procedure_name);
    raise(error, std::move(description));
}

void raise_step_error(const ErrorCode& error, LONG code, std::wstring_view procedure_name, std::wstring_view reply,
                      std::wstring_view reason)
{
    std::wstring description(error.message);
    description += error_text(code, procedure_name, reply);
    if (!reason.empty()) {
        description += L' ';
        description += reason;
    }
    raise(error, std::move(description));
}

}  // namespace corvane
