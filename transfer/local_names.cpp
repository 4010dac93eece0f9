#include "transfer/local_names.h"

#include "frame/error.h"
#include "frame/platform.h"
#include "frame/text.h"

#include <array>

namespace corvane::transfer {

namespace {

// Windows opens these as devices in every folder, with any extension, and
// ignores spaces between the name and the extension.
bool is_device_name(std::wstring_view name)
{
    std::wstring_view base = name.substr(0, name.find(L'.'));
    while (!base.empty() && base.back() == L' ')
        base.remove_suffix(1);
    for (std::wstring_view device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
        if (equal_ignoring_case(base, device))
            return true;
    }
    // COM and LPT with one digit, superscript one to three included.
    constexpr std::wstring_view port_digits = L"0123456789\u00B9\u00B2\u00B3";
    if (base.size() != 4 || port_digits.find(base[3]) == std::wstring_view::npos)
        return false;
    const std::wstring_view prefix = base.substr(0, 3);
    return equal_ignoring_case(prefix, L"COM") || equal_ignoring_case(prefix, L"LPT");
}

}  // namespace

std::wstring_view why_not_plain(std::wstring_view name)
{
    if (name.empty())
        return L"is empty";
    for (wchar_t character : name) {
        if (is_control_character(character))
            return L"holds a control character";
    }
    // Bytes of a UTF-8 listing that make no character, kept as lone
    // surrogates: no remote name to ask for, and no true local one.
    if (!to_utf8_exact(name))
        return L"holds an unpaired surrogate";
    if (name.find_first_of(L"\\/") != std::wstring_view::npos)
        return L"holds a path separator";
    if (name.find(L':') != std::wstring_view::npos)
        return L"holds a drive or stream colon";
    // Windows drops them, so "a." would be written as "a" and "..." as
    // the folder itself.
    if (name.back() == L'.' || name.back() == L' ')
        return L"ends with a dot or a space";
    if (is_device_name(name))
        return L"is a reserved device name";
    return {};
}

std::wstring shown_name(std::wstring_view name)
{
    static constexpr std::array<wchar_t, 16> hex = {L'0', L'1', L'2', L'3', L'4', L'5', L'6', L'7',
                                                    L'8', L'9', L'a', L'b', L'c', L'd', L'e', L'f'};
    std::wstring shown = L"\"";
    for (wchar_t character : name) {
        if (character == L'\r') {
            shown += L"\\r";
        } else if (character == L'\n') {
            shown += L"\\n";
        } else if (character == L'\t') {
            shown += L"\\t";
        } else if (is_control_character(character) || (character >= 0x80 && character <= 0x9F)) {
            shown += L"\\x";
            shown += hex[(character >> 4) & 0xF];
            shown += hex[character & 0xF];
        } else {
            shown += character;
        }
    }
    return shown + L"\"";
}

bool lies_inside(std::wstring_view folder, std::wstring_view path)
{
    std::wstring prefix = fold_case(folder);
    if (prefix.empty())
        return false;
    if (prefix.back() != L'\\')
        prefix += L'\\';
    const std::wstring candidate = fold_case(path);
    return candidate.size() > prefix.size() && candidate.compare(0, prefix.size(), prefix) == 0;
}

void check_local_path(std::wstring_view path, const ErrorCode& error)
{
    if (path.find(L'\0') == std::wstring_view::npos)
        return;
    std::wstring description(error.message);
    description += L" The local path holds a NUL character, so it was not used.";
    raise(error, std::move(description));
}

}  // namespace corvane::transfer
