#include "frame/text.h"

#include "frame/com_ptr.h"
#include "frame/error.h"
#include "frame/platform.h"

#include <climits>
#include <cstring>
#include <new>

namespace corvane {

int checked_length(size_t length)
{
    if (length > static_cast<size_t>(INT_MAX))
        throw std::bad_alloc();
    return static_cast<int>(length);
}

std::string to_ansi(std::wstring_view text)
{
    if (text.empty())
        return {};
    const int wide_length = checked_length(text.size());
    const int length =
        platform().WideCharToMultiByte(CP_ACP, 0, text.data(), wide_length, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(length), '\0');
    platform().WideCharToMultiByte(CP_ACP, 0, text.data(), wide_length, result.data(), length, nullptr, nullptr);
    return result;
}

std::optional<std::string> to_ansi_exact(std::wstring_view text)
{
    // A round trip is exact in every code page, double-byte and UTF-8 ones
    // included, where WC_NO_BEST_FIT_CHARS and the default-character flag
    // are not all accepted.
    std::string ansi = to_ansi(text);
    if (from_ansi(ansi) != text)
        return std::nullopt;
    return ansi;
}

std::wstring from_ansi(std::string_view text)
{
    if (text.empty())
        return {};
    const int length = checked_length(text.size());
    const int wide_length = platform().MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    std::wstring result(static_cast<size_t>(wide_length), L'\0');
    platform().MultiByteToWideChar(CP_ACP, 0, text.data(), length, result.data(), wide_length);
    return result;
}

Bstr bstr_from_ansi(std::span<const std::string> pieces)
{
    // No code page makes more characters than bytes: converted into room
    // for as many characters as there are bytes, the text needs no sizing
    // pass, and fits exactly in the single-byte code pages servers mostly
    // send; only text that came out shorter is copied into its own size.
    size_t room = 0;
    for (const std::string& piece : pieces)
        room += piece.size();
    Bstr text;
    *text.put() = SysAllocStringLen(nullptr, static_cast<UINT>(checked_length(room)));
    if (!text.get())
        throw std::bad_alloc();
    size_t written = 0;
    for (const std::string& piece : pieces) {
        if (piece.empty())
            continue;
        written += static_cast<size_t>(platform().MultiByteToWideChar(
            CP_ACP, 0, piece.data(), checked_length(piece.size()), text.get() + written,
            checked_length(room - written)));
    }
    if (written < room)
        return Bstr(std::wstring_view(text.get(), written));
    return text;
}

std::wstring from_ansi_buffer(const char* buffer, size_t capacity)
{
    const void* end = std::memchr(buffer, '\0', capacity);
    const size_t length = end ? static_cast<size_t>(static_cast<const char*>(end) - buffer) : capacity;
    return from_ansi({buffer, length});
}

std::wstring fold_case(std::wstring_view text)
{
    if (text.empty())
        return {};
    std::wstring result(text.size(), L'\0');
    const int length = checked_length(text.size());
    if (platform().LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, text.data(), length, result.data(), length) !=
        length)
        return std::wstring(text);
    return result;
}

std::wstring text_of(const VARIANT& value)
{
    if (V_VT(&value) == VT_BSTR)
        return std::wstring(Bstr::view_of(V_BSTR(&value)));
    Variant converted;
    // LOCALE_USER_DEFAULT and no flags: what a script's own CStr would do.
    check_com(VariantChangeType(converted.get(), const_cast<VARIANT*>(&value), 0, VT_BSTR));
    return std::wstring(Bstr::view_of(V_BSTR(converted.get())));
}

std::wstring_view trim_spaces(std::wstring_view text)
{
    const size_t first = text.find_first_not_of(L' ');
    if (first == std::wstring_view::npos)
        return {};
    const size_t last = text.find_last_not_of(L' ');
    return text.substr(first, last - first + 1);
}

BSTR allocate_bstr(std::wstring_view text)
{
    return Bstr(text).detach();
}

void set_variant_text(VARIANT* out, std::wstring_view text)
{
    VariantInit(out);
    V_BSTR(out) = allocate_bstr(text);
    V_VT(out) = VT_BSTR;
}

}  // namespace corvane
