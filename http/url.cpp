// The URL split into server name, path and port.

#include "http/client.h"

#include "frame/error.h"
#include "frame/text.h"

#include <cwctype>

namespace corvane::http {

namespace {

constexpr size_t largest_slash_position = 32767;

bool starts_with_ignoring_case(std::wstring_view text, std::wstring_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t index = 0; index < prefix.size(); ++index) {
        if (std::towlower(text[index]) != prefix[index])
            return false;
    }
    return true;
}

}  // namespace

void Client::set_url(std::wstring_view url)
{
    std::wstring_view text = trim_spaces(url);
    if (text.empty())
        return;
    bool plain = false;
    bool encrypted = false;
    if (starts_with_ignoring_case(text, L"http://")) {
        text.remove_prefix(7);
        plain = true;
    }
    if (starts_with_ignoring_case(text, L"https://")) {
        text.remove_prefix(8);
        encrypted = !plain;
    }
    const size_t slash = text.find(L'/');
    if (slash != std::wstring_view::npos && slash + 1 > largest_slash_position)
        raise_runtime_error(RuntimeError::overflow);
    if (slash == std::wstring_view::npos) {
        server_name_ = text;
        path_ = L"/";
    } else {
        server_name_ = text.substr(0, slash);
        path_ = text.substr(slash);
    }
    secure_ = encrypted;
}

HostAndPort split_port(const std::wstring& server_name)
{
    const size_t colon = server_name.rfind(L':');
    if (colon == std::wstring::npos || colon + 1 == server_name.size())
        return {server_name, 0};
    // An IPv6 literal has colons of its own; its port follows the bracket.
    const bool bracketed = !server_name.empty() && server_name.front() == L'[';
    if (bracketed && (colon == 0 || server_name[colon - 1] != L']'))
        return {server_name, 0};
    if (!bracketed && server_name.find(L':') != colon)
        return {server_name, 0};
    unsigned long port = 0;
    for (size_t index = colon + 1; index < server_name.size(); ++index) {
        if (!std::iswdigit(server_name[index]) || (port = port * 10 + (server_name[index] - L'0')) > 65535)
            return {server_name, 0};
    }
    if (port == 0)
        return {server_name, 0};
    std::wstring host = server_name.substr(0, colon);
    if (bracketed)
        host = host.substr(1, host.size() - 2);
    return {host, static_cast<INTERNET_PORT>(port)};
}

}  // namespace corvane::http
