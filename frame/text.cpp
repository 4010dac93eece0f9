#include "frame/text.h"

#include "frame/com_ptr.h"
#include "frame/error.h"
#include "frame/platform.h"

#include <algorithm>
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

void append_utf8(std::string& bytes, char32_t code_point)
{
    if (code_point < 0x80) {
        bytes += static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        bytes += static_cast<char>(0xC0 | (code_point >> 6));
        bytes += static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        bytes += static_cast<char>(0xE0 | (code_point >> 12));
        bytes += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        bytes += static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        bytes += static_cast<char>(0xF0 | (code_point >> 18));
        bytes += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
        bytes += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        bytes += static_cast<char>(0x80 | (code_point & 0x3F));
    }
}

char32_t next_code_point(std::wstring_view text, size_t& index)
{
    const char32_t unit = text[index++];
    if (unit >= 0xD800 && unit <= 0xDBFF && index < text.size() && text[index] >= 0xDC00 && text[index] <= 0xDFFF)
        return 0x10000 + ((unit - 0xD800) << 10) + (static_cast<char32_t>(text[index++]) - 0xDC00);
    return unit;
}

namespace {

void append_utf16(std::wstring& text, char32_t code_point)
{
    if (code_point < 0x10000) {
        text += static_cast<wchar_t>(code_point);
    } else {
        code_point -= 0x10000;
        text += static_cast<wchar_t>(0xD800 + (code_point >> 10));
        text += static_cast<wchar_t>(0xDC00 + (code_point & 0x3FF));
    }
}

// The code point of the well-formed sequence at `position` and its length;
// length 0 when the bytes there are none. The ranges of the second byte
// are the ones that leave out overlong forms, surrogates and code points
// past U+10FFFF.
size_t utf8_sequence(std::string_view bytes, size_t position, char32_t& code_point)
{
    const auto byte = [&](size_t index) { return static_cast<unsigned char>(bytes[position + index]); };
    const unsigned char lead = byte(0);
    size_t length = 0;
    unsigned char second_low = 0x80;
    unsigned char second_high = 0xBF;
    if (lead < 0x80) {
        code_point = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code_point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code_point = lead & 0x0F;
        if (lead == 0xE0)
            second_low = 0xA0;
        if (lead == 0xED)
            second_high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code_point = lead & 0x07;
        if (lead == 0xF0)
            second_low = 0x90;
        if (lead == 0xF4)
            second_high = 0x8F;
    } else {
        return 0;
    }
    if (bytes.size() - position < length)
        return 0;
    for (size_t index = 1; index < length; ++index) {
        const unsigned char next = byte(index);
        const unsigned char low = index == 1 ? second_low : 0x80;
        const unsigned char high = index == 1 ? second_high : 0xBF;
        if (next < low || next > high)
            return 0;
        code_point = (code_point << 6) | (next & 0x3F);
    }
    return length;
}

// Walks the text by code points; an unpaired surrogate is handed over as
// it is, for the caller to judge.
template <class Visit>
void for_each_code_point(std::wstring_view text, Visit&& visit)
{
    for (size_t index = 0; index < text.size();)
        visit(next_code_point(text, index));
}

}  // namespace

std::optional<std::string> to_utf8_exact(std::wstring_view text)
{
    std::string bytes;
    bytes.reserve(text.size());
    bool exact = true;
    for_each_code_point(text, [&](char32_t code_point) {
        if (is_surrogate(code_point))
            exact = false;
        else
            append_utf8(bytes, code_point);
    });
    if (!exact)
        return std::nullopt;
    return bytes;
}

namespace {

// UTF-8 read as text; an ill-formed byte ends the reading (nothing) unless
// it is to be kept as an unpaired surrogate.
std::optional<std::wstring> decode_utf8(std::string_view bytes, bool keep_ill_formed)
{
    std::wstring text;
    text.reserve(bytes.size());
    for (size_t position = 0; position < bytes.size();) {
        char32_t code_point = 0;
        size_t length = utf8_sequence(bytes, position, code_point);
        if (length == 0) {
            if (!keep_ill_formed)
                return std::nullopt;
            code_point = 0xDC00 + static_cast<unsigned char>(bytes[position]);
            length = 1;
        }
        append_utf16(text, code_point);
        position += length;
    }
    return text;
}

}  // namespace

std::optional<std::wstring> from_utf8_exact(std::string_view bytes)
{
    return decode_utf8(bytes, false);
}

std::wstring from_utf8_escaped(std::string_view bytes)
{
    return *decode_utf8(bytes, true);
}

std::string to_utf8_unescaped(std::wstring_view text)
{
    std::string bytes;
    bytes.reserve(text.size());
    for_each_code_point(text, [&](char32_t code_point) {
        if (code_point >= 0xDC80 && code_point <= 0xDCFF)
            bytes += static_cast<char>(code_point - 0xDC00);
        else
            append_utf8(bytes, is_surrogate(code_point) ? 0xFFFD : code_point);
    });
    return bytes;
}

std::optional<std::string> to_ansi_exact(std::wstring_view text)
{
    if (text.empty())
        return std::string();
    // A round trip is exact in every code page, double-byte and UTF-8 ones
    // included, where WC_NO_BEST_FIT_CHARS and the default-character flag
    // are not all accepted.
    const int wide_length = checked_length(text.size());
    const int length =
        platform().WideCharToMultiByte(CP_ACP, 0, text.data(), wide_length, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(std::max(length, 0)), '\0');
    if (length <= 0 ||
        platform().WideCharToMultiByte(CP_ACP, 0, text.data(), wide_length, ansi.data(), length, nullptr, nullptr) !=
            length ||
        from_ansi(ansi) != text)
        return std::nullopt;
    return ansi;
}

std::string to_ansi(std::wstring_view text)
{
    std::optional<std::string> ansi = to_ansi_exact(text);
    if (!ansi)
        raise_runtime_error(RuntimeError::invalid_argument);
    return std::move(*ansi);
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

std::string_view up_to_nul(const char* buffer, size_t capacity)
{
    const void* end = std::memchr(buffer, '\0', capacity);
    return {buffer, end ? static_cast<size_t>(static_cast<const char*>(end) - buffer) : capacity};
}

std::wstring from_ansi_buffer(const char* buffer, size_t capacity)
{
    return from_ansi(up_to_nul(buffer, capacity));
}

std::wstring fold_case(std::wstring_view text)
{
    if (text.empty())
        return {};
    std::wstring result(text.size(), L'\0');
    // Most keys are ASCII, where the invariant upper case is A-Z alone; the
    // platform call would cost more than a listing entry's other work.
    if (std::all_of(text.begin(), text.end(), [](wchar_t character) { return character < 0x80; })) {
        std::transform(text.begin(), text.end(), result.begin(), [](wchar_t character) { return ascii_upper(character); });
        return result;
    }
    const int length = checked_length(text.size());
    if (platform().LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, text.data(), length, result.data(), length) !=
        length)
        return std::wstring(text);
    return result;
}

bool equal_ignoring_case(std::wstring_view left, std::wstring_view right)
{
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(),
                      [](wchar_t a, wchar_t b) { return ascii_lower(a) == ascii_lower(b); });
}

bool starts_with_ignoring_case(std::wstring_view text, std::wstring_view prefix)
{
    return text.size() >= prefix.size() && equal_ignoring_case(text.substr(0, prefix.size()), prefix);
}

std::optional<unsigned long long> parse_decimal(std::wstring_view text, size_t longest_digits)
{
    if (text.empty() || text.size() > std::min<size_t>(longest_digits, 19))
        return std::nullopt;
    unsigned long long value = 0;
    for (const wchar_t character : text) {
        if (character < L'0' || character > L'9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(character - L'0');
    }
    return value;
}

std::wstring html_escape(std::wstring_view text, bool references_beyond_ascii)
{
    std::wstring result;
    result.reserve(text.size());
    for (size_t index = 0; index < text.size();) {
        const size_t start = index;
        const char32_t code_point = next_code_point(text, index);
        switch (code_point) {
        case U'&': result += L"&amp;"; continue;
        case U'<': result += L"&lt;"; continue;
        case U'>': result += L"&gt;"; continue;
        case U'"': result += L"&quot;"; continue;
        case U'\'': result += L"&#39;"; continue;
        default: break;
        }
        if (code_point < 0x80 || !references_beyond_ascii) {
            result += text.substr(start, index - start);
            continue;
        }
        result += L"&#" + std::to_wstring(is_surrogate(code_point) ? 0xFFFD : code_point) + L";";
    }
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
