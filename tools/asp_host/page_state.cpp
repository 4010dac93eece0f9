#include "tools/asp_host/page_state.h"

#include "frame/error.h"

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

void PageState::query_string_changed()
{
    server_variables.replace(L"QUERY_STRING", query_string.text());
}

void PageState::write_body(std::string_view bytes)
{
    bytes_written += bytes.size();
    if (stream_body)
        return;
    body += bytes;
    if (!buffer)
        flushed = body.size();
}

}  // namespace corvane::asp_host
