#include "web/utf8_links.h"

#include "frame/text.h"

#include <algorithm>

namespace corvane::web {

namespace {

constexpr std::wstring_view hex_digits = L"0123456789ABCDEF";

int hex_value(wchar_t character)
{
    if (character >= L'0' && character <= L'9')
        return character - L'0';
    if (character >= L'A' && character <= L'F')
        return character - L'A' + 10;
    if (character >= L'a' && character <= L'f')
        return character - L'a' + 10;
    return -1;
}

bool is_alphanumeric(wchar_t character)
{
    return (character >= L'A' && character <= L'Z') || (character >= L'a' && character <= L'z') ||
           (character >= L'0' && character <= L'9');
}

// The bytes of one query component. A "%" without two hex digits after it
// stands for itself; a character a client sent unescaped counts as its
// UTF-8; nothing for an unpaired surrogate.
std::optional<std::string> query_bytes(std::wstring_view component)
{
    std::string bytes;
    for (size_t index = 0; index < component.size(); ++index) {
        const wchar_t character = component[index];
        if (character == L'%' && index + 2 < component.size() && hex_value(component[index + 1]) >= 0 &&
            hex_value(component[index + 2]) >= 0) {
            bytes += static_cast<char>(hex_value(component[index + 1]) * 16 + hex_value(component[index + 2]));
            index += 2;
        } else if (character == L'+') {
            bytes += ' ';
        } else if (character < 0x80) {
            bytes += static_cast<char>(character);
        } else {
            size_t next = index;
            const char32_t code_point = next_code_point(component, next);
            if (is_surrogate(code_point))
                return std::nullopt;
            append_utf8(bytes, code_point);
            index = next - 1;
        }
    }
    return bytes;
}

}  // namespace

std::wstring utf8_url_encode(std::wstring_view text)
{
    std::wstring encoded;
    for (const char byte : to_utf8_unescaped(text)) {
        const auto value = static_cast<unsigned char>(byte);
        if (value < 0x80 && is_alphanumeric(static_cast<wchar_t>(value))) {
            encoded += static_cast<wchar_t>(value);
        } else {
            encoded += L'%';
            encoded += hex_digits[value >> 4];
            encoded += hex_digits[value & 0x0F];
        }
    }
    return encoded;
}

std::optional<std::wstring> utf8_query_item(std::wstring_view query, std::wstring_view key)
{
    std::wstring joined;
    bool found = false;
    for (size_t start = 0; start <= query.size();) {
        const size_t end = std::min(query.find(L'&', start), query.size());
        const std::wstring_view pair = query.substr(start, end - start);
        start = end + 1;
        const size_t equals = pair.find(L'=');
        const std::optional<std::string> name = query_bytes(pair.substr(0, equals));
        if (!name || !equal_ignoring_case(from_utf8_escaped(*name), key))
            continue;
        const std::optional<std::string> bytes =
            query_bytes(equals == std::wstring_view::npos ? std::wstring_view() : pair.substr(equals + 1));
        if (!bytes)
            return std::nullopt;
        const std::optional<std::wstring> value = from_utf8_exact(*bytes);
        if (!value)
            return std::nullopt;
        if (found)
            joined += L", ";
        joined += *value;
        found = true;
    }
    return joined;
}

std::wstring html_text_references(std::wstring_view text)
{
    return html_escape(text, true);
}

}  // namespace corvane::web
