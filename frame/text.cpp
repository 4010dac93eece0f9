#include "frame/text.h"

#include "frame/com_ptr.h"
#include "frame/error.h"
#include "frame/platform.h"

#include <climits>
#include <cstring>
#include <new>
#include <vector>

namespace corvane {

namespace {

int checked_length(size_t length)
{
    if (length > static_cast<size_t>(INT_MAX))
        throw std::bad_alloc();
    return static_cast<int>(length);
}

}  // namespace

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
    std::vector<int> wide_lengths;
    wide_lengths.reserve(pieces.size());
    size_t total = 0;
    for (const std::string& piece : pieces) {
        const int wide_length =
            piece.empty() ? 0
                          : platform().MultiByteToWideChar(CP_ACP, 0, piece.data(), checked_length(piece.size()),
                                                           nullptr, 0);
        wide_lengths.push_back(wide_length);
        total += static_cast<size_t>(wide_length);
    }
    Bstr text;
    *text.put() = SysAllocStringLen(nullptr, static_cast<UINT>(checked_length(total)));
    if (!text.get())
        throw std::bad_alloc();
    wchar_t* end = text.get();
    for (size_t index = 0; index < pieces.size(); ++index) {
        if (wide_lengths[index] > 0)
            platform().MultiByteToWideChar(CP_ACP, 0, pieces[index].data(),
                                           checked_length(pieces[index].size()), end, wide_lengths[index]);
        end += wide_lengths[index];
    }
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
