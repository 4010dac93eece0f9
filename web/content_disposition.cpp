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
    for (size_t index = 0; index < text.size();) {
        const char32_t code_point = next_code_point(text, index);
        result += is_surrogate(code_point) ? U'\xFFFD' : code_point;
    }
    return result;
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
