// The request settings a script makes, checked as they are made: whatever
// could end a request line or a header line, or start one of its own, is
// refused here, before anything reaches a server.

#include "http/client.h"

#include "frame/charsets.h"
#include "frame/error_text.h"
#include "frame/text.h"
#include "http/http_errors.h"
#include "http/request_text.h"

#include <algorithm>

namespace corvane::http {

namespace {

constexpr long longest_timeout_seconds = 24 * 60 * 60;

[[noreturn]] void refuse(std::wstring_view reason)
{
    raise_with_reason(errors::invalid_setting, reason);
}

void refuse_control_characters(std::wstring_view text, std::wstring_view what)
{
    if (std::any_of(text.begin(), text.end(), is_control_character))
        refuse(std::wstring(what) + L" holds a control character.");
}

}  // namespace

bool is_token(std::wstring_view text)
{
    constexpr std::wstring_view marks = L"!#$%&'*+-.^_`|~";
    return !text.empty() && std::all_of(text.begin(), text.end(), [&](wchar_t c) {
        return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') ||
               marks.find(c) != std::wstring_view::npos;
    });
}

void Client::set_method(std::wstring_view method)
{
    if (!is_token(method))
        refuse(L"The method must be a token such as GET or POST, without blanks or separators.");
    settings_.method = method;
}

void Client::set_body_text(std::wstring text)
{
    settings_.body_bytes.reset();
    settings_.body_text = std::move(text);
}

void Client::set_body_bytes(std::string bytes)
{
    settings_.body_text.reset();
    settings_.body_bytes = std::move(bytes);
}

void Client::clear_body()
{
    settings_.body_text.reset();
    settings_.body_bytes.reset();
}

void Client::set_request_header(std::wstring_view name, std::wstring_view value)
{
    if (!is_token(name))
        refuse(L"A request header's name must be a token, without blanks, colons or control characters.");
    // A tab is the one control character a header value may hold.
    if (std::any_of(value.begin(), value.end(), [](wchar_t c) { return c != L'\t' && is_control_character(c); }))
        refuse(L"A request header's value holds a line break or another control character.");
    if (!to_ansi_exact(value))
        refuse(L"A request header's value holds characters the system code page cannot represent.");
    // The body's own length is the only true one.
    if (equal_ignoring_case(name, L"Content-Length"))
        refuse(L"Content-Length is set from the request body.");
    auto& headers = settings_.headers;
    std::erase_if(headers, [&](const auto& header) { return equal_ignoring_case(header.first, name); });
    headers.emplace_back(name, value);
}

void Client::clear_request_headers()
{
    settings_.headers.clear();
}

void Client::set_timeout_seconds(long seconds)
{
    if (seconds < 1 || seconds > longest_timeout_seconds)
        refuse(L"The timeout must be from 1 to 86400 seconds.");
    settings_.timeout_seconds = static_cast<unsigned long>(seconds);
}

void Client::set_username(std::wstring_view username)
{
    // Basic authentication joins the two with a colon: one in the name
    // would move the boundary.
    if (username.find(L':') != std::wstring_view::npos)
        refuse(L"A user name for Basic authentication cannot hold a colon.");
    refuse_control_characters(username, L"The user name");
    settings_.username = username;
}

void Client::set_password(std::wstring_view password)
{
    refuse_control_characters(password, L"The password");
    settings_.password = password;
}

void Client::set_proxy(std::wstring_view proxy)
{
    proxy = trim_spaces(proxy);
    // One host and an optional port, nothing of the platform's proxy-list
    // syntax (separators, per-scheme entries, bypass macros).
    const bool plain = std::all_of(proxy.begin(), proxy.end(), [](wchar_t c) {
        return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') ||
               c == L'.' || c == L'-' || c == L':' || c == L'[' || c == L']';
    });
    if (!plain)
        refuse(L"The proxy must be written host or host:port.");
    if (!proxy.empty()) {
        const HostAndPort where = split_port(std::wstring(proxy));
        if (where.host.empty() || (where.port == 0 && where.host != proxy))
            refuse(L"The proxy must be written host or host:port.");
    }
    settings_.proxy = proxy;
}

void Client::set_proxy_username(std::wstring_view username)
{
    if (username.find(L':') != std::wstring_view::npos)
        refuse(L"A proxy user name cannot hold a colon.");
    refuse_control_characters(username, L"The proxy user name");
    if (!to_ansi_exact(username))
        refuse(L"The proxy user name holds characters the system code page cannot represent.");
    settings_.proxy_username = username;
}

void Client::set_proxy_password(std::wstring_view password)
{
    refuse_control_characters(password, L"The proxy password");
    if (!to_ansi_exact(password))
        refuse(L"The proxy password holds characters the system code page cannot represent.");
    settings_.proxy_password = password;
}

void Client::set_charset(std::wstring_view charset)
{
    charset = trim_spaces(charset);
    if (!charset.empty() && !equal_ignoring_case(charset, L"auto") && !code_page_of_charset(charset))
        refuse(L"The charset \"" + std::wstring(charset) + L"\" is not one this component knows.");
    settings_.charset = charset;
}

void Client::set_max_response_size(long bytes)
{
    if (bytes < 0)
        refuse(L"MaxResponseSize must be 0 (no limit) or a number of bytes.");
    settings_.max_response_size = static_cast<unsigned long>(bytes);
}

}  // namespace corvane::http
