#include "web/content_disposition.h"

#include "frame/text.h"

#include <algorithm>
#include <string>

namespace corvane::web {

namespace {

constexpr std::wstring_view unnamed_download = L"download";

// RFC 7230 token characters: a name of only these needs no quotes.
bool is_token_character(wchar_t character)
{
    return (character >= L'a' && character <= L'z') || (character >= L'A' && character <= L'Z') ||
           (character >= L'0' && character <= L'9') ||
           std::wstring_view(L"!#$%&'*+-.^_`|~").find(character) != std::wstring_view::npos;
}

// RFC 5987 attr-char: what stays as it is in an extended value.
bool is_attribute_character(char32_t character)
{
    return (character >= U'a' && character <= U'z') || (character >= U'A' && character <= U'Z') ||
           (character >= U'0' && character <= U'9') ||
           std::u32string_view(U"!#$&+-.^_`|~").find(character) != std::u32string_view::npos;
}

// The name's characters; a surrogate without its partner stands for the
// replacement character.
std::u32string code_points(std::wstring_view text)
{
    std::u32string result;
    for (size_t index = 0; index < text.size(); ++index) {
        const char32_t unit = text[index];
        if (unit >= 0xD800 && unit <= 0xDBFF && index + 1 < text.size() && text[index + 1] >= 0xDC00 &&
            text[index + 1] <= 0xDFFF) {
            result += 0x10000 + ((unit - 0xD800) << 10) + (static_cast<char32_t>(text[++index]) - 0xDC00);
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            result += U'\xFFFD';
        } else {
            result += unit;
        }
    }
    return result;
}

void append_utf8(std::string& bytes, char32_t character)
{
    if (character < 0x80) {
        bytes += static_cast<char>(character);
    } else if (character < 0x800) {
        bytes += static_cast<char>(0xC0 | (character >> 6));
        bytes += static_cast<char>(0x80 | (character & 0x3F));
    } else if (character < 0x10000) {
        bytes += static_cast<char>(0xE0 | (character >> 12));
        bytes += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
        bytes += static_cast<char>(0x80 | (character & 0x3F));
    } else {
        bytes += static_cast<char>(0xF0 | (character >> 18));
        bytes += static_cast<char>(0x80 | ((character >> 12) & 0x3F));
        bytes += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
        bytes += static_cast<char>(0x80 | (character & 0x3F));
    }
}

// The RFC 5987 value: UTF-8, percent-encoded but for attr-chars.
std::wstring extended_value(std::wstring_view name)
{
    static constexpr std::wstring_view hex = L"0123456789ABCDEF";
    std::wstring value = L"UTF-8''";
    for (char32_t character : code_points(name)) {
        if (is_attribute_character(character)) {
            value += static_cast<wchar_t>(character);
            continue;
        }
        std::string bytes;
        append_utf8(bytes, character);
        for (unsigned char byte : bytes) {
            value += L'%';
            value += hex[byte >> 4];
            value += hex[byte & 0xF];
        }
    }
    return value;
}

}  // namespace

std::wstring content_disposition(std::wstring_view remote_path)
{
    const size_t slash = remote_path.rfind(L'/');
    std::wstring name;
    for (wchar_t character : remote_path.substr(slash == std::wstring::npos ? 0 : slash + 1)) {
        if (!is_control_character(character))
            name += character;
    }
    if (name.empty())
        name = unnamed_download;
    if (std::all_of(name.begin(), name.end(), is_token_character))
        return L"attachment;filename=" + name;

    std::wstring quoted = L"attachment;filename=\"";
    bool non_ascii = false;
    for (char32_t character : code_points(name)) {
        if (character > 0x7E) {
            non_ascii = true;
            quoted += L'_';
            continue;
        }
        if (character == U'\\' || character == U'"')
            quoted += L'\\';
        quoted += static_cast<wchar_t>(character);
    }
    quoted += L'"';
    if (non_ascii)
        quoted += L";filename*=" + extended_value(name);
    return quoted;
}

}  // namespace corvane::web
