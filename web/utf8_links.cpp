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
            size_t length = 1;
            if (character >= 0xD800 && character <= 0xDBFF && index + 1 < component.size())
                length = 2;
            const std::optional<std::string> encoded = to_utf8_exact(component.substr(index, length));
            if (!encoded)
                return std::nullopt;
            bytes += *encoded;
            index += length - 1;
        }
    }
    return bytes;
}

bool equal_ignoring_ascii_case(std::string_view text, std::wstring_view key)
{
    if (text.size() != key.size())
        return false;
    for (size_t index = 0; index < text.size(); ++index) {
        wchar_t left = static_cast<unsigned char>(text[index]);
        wchar_t right = key[index];
        if (left >= L'a' && left <= L'z')
            left = static_cast<wchar_t>(left - 32);
        if (right >= L'a' && right <= L'z')
            right = static_cast<wchar_t>(right - 32);
        if (left != right)
            return false;
    }
    return true;
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
        if (!name || !equal_ignoring_ascii_case(*name, key))
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
    std::wstring result;
    result.reserve(text.size());
    for (size_t index = 0; index < text.size(); ++index) {
        const wchar_t character = text[index];
        switch (character) {
        case L'&': result += L"&amp;"; continue;
        case L'<': result += L"&lt;"; continue;
        case L'>': result += L"&gt;"; continue;
        case L'"': result += L"&quot;"; continue;
        case L'\'': result += L"&#39;"; continue;
        default: break;
        }
        if (character < 0x80) {
            result += character;
            continue;
        }
        unsigned long code_point = character;
        if (character >= 0xD800 && character <= 0xDBFF && index + 1 < text.size() && text[index + 1] >= 0xDC00 &&
            text[index + 1] <= 0xDFFF) {
            code_point = 0x10000 + ((code_point - 0xD800) << 10) + (static_cast<unsigned long>(text[++index]) - 0xDC00);
        } else if (character >= 0xD800 && character <= 0xDFFF) {
            code_point = 0xFFFD;
        }
        result += L"&#" + std::to_wstring(code_point) + L";";
    }
    return result;
}

}  // namespace corvane::web
