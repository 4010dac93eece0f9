#include "tools/asp_host/page_state.h"

#include "frame/error.h"
#include "frame/late_bound.h"

#include <algorithm>
#include <climits>
#include <new>

namespace corvane::asp_host {

namespace {

int checked_length(size_t length)
{
    if (length > static_cast<size_t>(INT_MAX))
        throw std::bad_alloc();
    return static_cast<int>(length);
}

bool is_ascii_alphanumeric(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

}  // namespace

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

namespace {

// CON, NUL, COM1 and the like name a device in any folder, with any
// extension.
bool is_device_name(std::wstring_view segment)
{
    std::wstring_view base = segment.substr(0, segment.find(L'.'));
    while (!base.empty() && base.back() == L' ')
        base.remove_suffix(1);
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
        if (same_name(base, device))
            return true;
    }
    if (base.size() == 4 && (same_name(base.substr(0, 3), L"COM") || same_name(base.substr(0, 3), L"LPT")))
        return base[3] >= L'0' && base[3] <= L'9';
    return false;
}

// "Object.Member" names that call exactly; a bare member name calls that
// member on whichever object is reached first.
bool names_call(std::wstring_view call, std::wstring_view object, std::wstring_view member)
{
    const size_t dot = call.find(L'.');
    if (dot == std::wstring_view::npos)
        return same_name(call, member);
    return same_name(call.substr(0, dot), object) && same_name(call.substr(dot + 1), member);
}

}  // namespace

bool same_name(std::wstring_view left, std::wstring_view right)
{
    return CompareStringOrdinal(left.data(), checked_length(left.size()), right.data(),
                                checked_length(right.size()), TRUE) == CSTR_EQUAL;
}

std::string ansi_of(std::wstring_view text)
{
    if (text.empty())
        return {};
    const int wide_length = checked_length(text.size());
    const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), wide_length, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), wide_length, result.data(), length, nullptr, nullptr);
    return result;
}

std::wstring text_of_ansi(std::string_view bytes)
{
    if (bytes.empty())
        return {};
    const int length = checked_length(bytes.size());
    const int wide_length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
    std::wstring result(static_cast<size_t>(wide_length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, result.data(), wide_length);
    return result;
}

std::wstring url_encode(std::wstring_view text)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::wstring result;
    for (const char c : ansi_of(text)) {
        if (is_ascii_alphanumeric(c)) {
            result += static_cast<wchar_t>(c);
        } else if (c == ' ') {
            result += L'+';
        } else {
            const auto byte = static_cast<unsigned char>(c);
            result += L'%';
            result += static_cast<wchar_t>(digits[byte >> 4]);
            result += static_cast<wchar_t>(digits[byte & 0xF]);
        }
    }
    return result;
}

std::wstring url_decode(std::wstring_view text)
{
    const std::string encoded = ansi_of(text);
    std::string bytes;
    for (size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '+') {
            bytes += ' ';
        } else if (c == '%' && i + 2 < encoded.size() && hex_digit(encoded[i + 1]) >= 0 &&
                   hex_digit(encoded[i + 2]) >= 0) {
            bytes += static_cast<char>(hex_digit(encoded[i + 1]) * 16 + hex_digit(encoded[i + 2]));
            i += 2;
        } else {
            bytes += c;
        }
    }
    return text_of_ansi(bytes);
}

std::optional<std::vector<std::wstring>> resolve_site_address(std::wstring_view page, std::wstring_view address)
{
    std::wstring joined;
    if (address.empty() || (address.front() != L'/' && address.front() != L'\\')) {
        const size_t folder_end = page.find_last_of(L"/\\");
        joined = std::wstring(page.substr(0, folder_end == std::wstring_view::npos ? 0 : folder_end + 1));
    }
    joined += address;
    std::vector<std::wstring> segments;
    size_t start = 0;
    while (start <= joined.size()) {
        size_t end = joined.find_first_of(L"/\\", start);
        if (end == std::wstring::npos)
            end = joined.size();
        std::wstring segment = joined.substr(start, end - start);
        start = end + 1;
        if (segment.empty() || segment == L".")
            continue;
        if (segment == L"..") {
            if (segments.empty())
                return std::nullopt;
            segments.pop_back();
            continue;
        }
        segments.push_back(std::move(segment));
    }
    return segments;
}

std::optional<std::wstring> map_site_path(std::wstring_view root, std::wstring_view page,
                                          std::wstring_view address)
{
    const std::optional<std::vector<std::wstring>> segments = resolve_site_address(page, address);
    if (!segments)
        return std::nullopt;
    for (const std::wstring& segment : *segments) {
        // A drive, a stream, a wildcard, or a name Windows would trim.
        if (segment.find_first_of(L":*?\"<>|") != std::wstring::npos || segment.back() == L'.' ||
            segment.back() == L' ' || is_device_name(segment))
            return std::nullopt;
        if (std::any_of(segment.begin(), segment.end(), [](wchar_t c) { return c < 32; }))
            return std::nullopt;
    }
    std::wstring path(root);
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    for (const std::wstring& segment : *segments)
        path += L"\\" + segment;
    if (segments->empty())
        path += L'\\';
    return path;
}

void Collection::add(std::wstring_view key, std::wstring_view value)
{
    for (Entry& entry : entries_) {
        if (same_name(entry.key, key)) {
            entry.values.emplace_back(value);
            return;
        }
    }
    entries_.push_back({std::wstring(key), {std::wstring(value)}});
}

void Collection::replace(std::wstring_view key, std::wstring_view value)
{
    for (Entry& entry : entries_) {
        if (same_name(entry.key, key)) {
            entry.values = {std::wstring(value)};
            return;
        }
    }
    entries_.push_back({std::wstring(key), {std::wstring(value)}});
}

void Collection::parse(std::wstring_view text)
{
    while (!text.empty()) {
        const size_t end = text.find(L'&');
        const std::wstring_view pair = text.substr(0, end);
        text = end == std::wstring_view::npos ? std::wstring_view() : text.substr(end + 1);
        if (pair.empty())
            continue;
        const size_t equals = pair.find(L'=');
        const std::wstring key = url_decode(pair.substr(0, equals));
        const std::wstring value =
            equals == std::wstring_view::npos ? std::wstring() : url_decode(pair.substr(equals + 1));
        add(key, value);
    }
}

const Collection::Entry* Collection::find(std::wstring_view key) const
{
    for (const Entry& entry : entries_) {
        if (same_name(entry.key, key))
            return &entry;
    }
    return nullptr;
}

std::wstring Collection::text() const
{
    std::wstring text;
    for (const Entry& entry : entries_) {
        for (const std::wstring& value : entry.values) {
            if (!text.empty())
                text += L'&';
            text += url_encode(entry.key) + L'=' + url_encode(value);
        }
    }
    return text;
}

void PageState::fail_next(std::wstring call, HRESULT number, std::wstring description)
{
    failures_.push_back({std::move(call), number, std::move(description)});
}

void PageState::enter(std::wstring_view object, std::wstring_view member)
{
    if (ended && end_stops_script)
        throw ComponentError(page_ended_error, std::wstring(object) + L" object", L"The page has ended.");
    for (auto failure = failures_.begin(); failure != failures_.end(); ++failure) {
        if (names_call(failure->call, object, member)) {
            Failure chosen = std::move(*failure);
            failures_.erase(failure);
            throw ComponentError(chosen.number, std::wstring(object) + L" object", std::move(chosen.description));
        }
    }
}

void PageState::enter_response(std::wstring_view member, std::wstring entry)
{
    try {
        enter(L"Response", member);
    } catch (const ComponentError&) {
        calls.push_back(entry + L" failed");
        throw;
    }
    calls.push_back(std::move(entry));
}

void PageState::end_page()
{
    for (const ComPtr<IDispatch>& object : started_objects) {
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR name = const_cast<LPOLESTR>(L"OnEndPage");
        if (SUCCEEDED(object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id))) {
            try {
                invoke(object.get(), id, DISPATCH_METHOD);
            } catch (const ComponentError&) {
                // The page is over; a component's complaint about it has no one to go to.
            }
        }
    }
    started_objects.clear();
    context = {};
    session = {};
    application = {};
}

void PageState::query_string_changed()
{
    server_variables.replace(L"QUERY_STRING", query_string.text());
}

void PageState::write_body(std::string_view bytes)
{
    if (buffer && body.size() - flushed + bytes.size() > buffer_limit)
        throw ComponentError(E_FAIL, L"Response object",
                             L"ASP 0251: Response Buffer Limit Exceeded. Execution of the ASP page caused the "
                             L"Response Buffer to exceed its configured limit.");
    bytes_written += bytes.size();
    body += bytes;
    if (!buffer)
        flush_body();
}

void PageState::flush_body()
{
    headers_sent = true;
    if (!send_out) {
        flushed = body.size();
        return;
    }
    send_out(std::string_view(body).substr(flushed));
    body.resize(flushed);
}

void PageState::check_headers_open() const
{
    if (headers_sent)
        throw ComponentError(E_FAIL, L"Response object",
                             L"ASP 0156: Header Error. The HTTP headers are already written to the client browser. "
                             L"HTTP header modifications must be made before writing page content.");
}

void PageState::check_buffering(std::wstring_view member) const
{
    if (!buffer)
        throw ComponentError(E_FAIL, L"Response object",
                             L"ASP 0159: Buffering Off. Buffering must be on to use Response." + std::wstring(member) +
                                 L".");
}

bool PageState::is_client_connected() const
{
    if (client_connected)
        return client_connected();
    return !disconnect_after || bytes_written < *disconnect_after;
}

}  // namespace corvane::asp_host
