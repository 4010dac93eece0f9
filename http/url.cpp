// The URL split into server name, path and port, and a redirect's Location
// read against the URL it answered.

#include "http/client.h"
#include "http/redirects.h"

#include "frame/error.h"
#include "frame/text.h"

namespace corvane::http {

namespace {

constexpr size_t largest_slash_position = 32767;
// A port may carry leading zeros; this many digits never overflow.
constexpr size_t longest_port_text = 18;

// "scheme://server/path": the server ends at the first slash, question
// mark or fragment mark; the fragment is the client's own and never sent.
std::optional<Target> absolute_target(std::wstring_view text, bool secure)
{
    const size_t end = text.find_first_of(L"/?#");
    Target target{secure, std::wstring(text.substr(0, end)), L"/"};
    if (end != std::wstring_view::npos && text[end] != L'#') {
        std::wstring_view rest = text.substr(end);
        rest = rest.substr(0, rest.find(L'#'));
        target.path = rest.front() == L'/' ? std::wstring(rest) : L"/" + std::wstring(rest);
    }
    if (target.server_name.empty())
        return std::nullopt;
    return target;
}

}  // namespace

std::wstring Target::url() const
{
    return (secure ? L"https://" : L"http://") + server_name + path;
}

std::optional<Target> resolve_location(const Target& current, std::wstring_view location)
{
    location = trim_spaces(location);
    if (location.empty())
        return std::nullopt;
    if (starts_with_ignoring_case(location, L"http://"))
        return absolute_target(location.substr(7), false);
    if (starts_with_ignoring_case(location, L"https://"))
        return absolute_target(location.substr(8), true);
    if (location.starts_with(L"//"))
        return absolute_target(location.substr(2), current.secure);
    // Any other scheme (ftp:, file:, javascript:) is not ours to follow.
    const size_t colon = location.find(L':');
    if (colon != std::wstring_view::npos && location.find_first_of(L"/?#") > colon)
        return std::nullopt;
    location = location.substr(0, location.find(L'#'));
    Target next{current.secure, current.server_name, {}};
    const std::wstring_view current_path = std::wstring_view(current.path).substr(0, current.path.find(L'?'));
    if (location.empty()) {
        next.path = current.path.substr(0, current.path.find(L'#'));
    } else if (location.front() == L'/') {
        next.path = location;
    } else if (location.front() == L'?') {
        next.path = std::wstring(current_path) + std::wstring(location);
    } else {
        next.path = std::wstring(current_path.substr(0, current_path.rfind(L'/') + 1)) + std::wstring(location);
    }
    return next;
}

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
    const std::optional<unsigned long long> port =
        parse_decimal(std::wstring_view(server_name).substr(colon + 1), longest_port_text);
    if (!port || *port == 0 || *port > 65535)
        return {server_name, 0};
    std::wstring host = server_name.substr(0, colon);
    if (bracketed)
        host = host.substr(1, host.size() - 2);
    return {host, static_cast<INTERNET_PORT>(*port)};
}

}  // namespace corvane::http
