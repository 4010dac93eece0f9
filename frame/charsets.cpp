#include "frame/charsets.h"

#include "frame/platform.h"
#include "frame/text.h"

#include <algorithm>
#include <array>
#include <new>

namespace corvane {

namespace {

struct CharsetName {
    std::string_view name;
    UINT code_page;
};

// Lower case, sorted for the binary search. ISO-8859-8-I is 28598 too: the
// logical-order code page differs only in what it tells a renderer, and
// decodes every byte the same. Code pages Windows lacks (ISO-8859-10, -14,
// -16) have no entry, so their text is never decoded as something else.
constexpr CharsetName charset_names[] = {
    {"437", 437}, {"850", 850}, {"866", 866}, {"ansi_x3.4-1968", 20127}, {"ansi_x3.4-1986", 20127},
    {"arabic", 28596}, {"ascii", 20127}, {"asmo-708", 28596}, {"big5", 950}, {"chinese", 936}, {"cn-big5", 950},
    {"cp1250", 1250}, {"cp1251", 1251}, {"cp1252", 1252}, {"cp1253", 1253}, {"cp1254", 1254}, {"cp1255", 1255},
    {"cp1256", 1256}, {"cp1257", 1257}, {"cp1258", 1258}, {"cp367", 20127}, {"cp437", 437}, {"cp819", 1252},
    {"cp850", 850}, {"cp866", 866}, {"cp874", 874}, {"cp932", 932}, {"cp936", 936}, {"cp949", 949}, {"cp950", 950},
    {"csascii", 20127}, {"csbig5", 950}, {"cseuckr", 949}, {"cseucpkdfmtjapanese", 20932}, {"csgb2312", 936},
    {"csibm866", 866}, {"csiso2022jp", 50220}, {"csiso58gb231280", 936}, {"csiso885913", 28603},
    {"csiso885915", 28605}, {"csiso88596e", 28596}, {"csiso88596i", 28596}, {"csiso88598e", 28598},
    {"csiso88598i", 28598}, {"csisolatin1", 1252}, {"csisolatin2", 28592}, {"csisolatin3", 28593},
    {"csisolatin4", 28594}, {"csisolatin5", 1254}, {"csisolatin9", 28605}, {"csisolatinarabic", 28596},
    {"csisolatincyrillic", 28595}, {"csisolatingreek", 28597}, {"csisolatinhebrew", 28598}, {"cskoi8r", 20866},
    {"csksc56011987", 949}, {"csmacintosh", 10000}, {"cspc850multilingual", 850}, {"cspc8codepage437", 437},
    {"csshiftjis", 932}, {"cyrillic", 28595}, {"dos-874", 874}, {"ecma-114", 28596}, {"ecma-118", 28597},
    {"elot_928", 28597}, {"euc-cn", 936}, {"euc-jp", 20932}, {"euc-kr", 949}, {"gb18030", 54936}, {"gb2312", 936},
    {"gb_2312", 936}, {"gb_2312-80", 936}, {"gbk", 936}, {"greek", 28597}, {"greek8", 28597}, {"hebrew", 28598},
    {"ibm367", 20127}, {"ibm437", 437}, {"ibm819", 1252}, {"ibm850", 850}, {"ibm866", 866}, {"iso-2022-jp", 50220},
    {"iso-8859-1", 1252}, {"iso-8859-11", 874}, {"iso-8859-13", 28603}, {"iso-8859-15", 28605},
    {"iso-8859-2", 28592}, {"iso-8859-3", 28593}, {"iso-8859-4", 28594}, {"iso-8859-5", 28595},
    {"iso-8859-6", 28596}, {"iso-8859-6-e", 28596}, {"iso-8859-6-i", 28596}, {"iso-8859-7", 28597},
    {"iso-8859-8", 28598}, {"iso-8859-8-e", 28598}, {"iso-8859-8-i", 28598}, {"iso-8859-9", 1254},
    {"iso-ir-100", 1252}, {"iso-ir-101", 28592}, {"iso-ir-109", 28593}, {"iso-ir-110", 28594}, {"iso-ir-126", 28597},
    {"iso-ir-127", 28596}, {"iso-ir-138", 28598}, {"iso-ir-144", 28595}, {"iso-ir-148", 1254}, {"iso-ir-149", 949},
    {"iso-ir-58", 936}, {"iso-ir-6", 20127}, {"iso646-us", 20127}, {"iso8859-1", 1252}, {"iso8859-11", 874},
    {"iso8859-13", 28603}, {"iso8859-15", 28605}, {"iso8859-2", 28592}, {"iso8859-3", 28593}, {"iso8859-4", 28594},
    {"iso8859-5", 28595}, {"iso8859-6", 28596}, {"iso8859-7", 28597}, {"iso8859-8", 28598}, {"iso8859-9", 1254},
    {"iso88591", 1252}, {"iso885911", 874}, {"iso885913", 28603}, {"iso885915", 28605}, {"iso88592", 28592},
    {"iso88593", 28593}, {"iso88594", 28594}, {"iso88595", 28595}, {"iso88596", 28596}, {"iso88597", 28597},
    {"iso88598", 28598}, {"iso88599", 1254}, {"iso_646.irv:1991", 20127}, {"iso_8859-1", 1252},
    {"iso_8859-15", 28605}, {"iso_8859-1:1987", 1252}, {"iso_8859-2", 28592}, {"iso_8859-2:1987", 28592},
    {"iso_8859-3", 28593}, {"iso_8859-3:1988", 28593}, {"iso_8859-4", 28594}, {"iso_8859-4:1988", 28594},
    {"iso_8859-5", 28595}, {"iso_8859-5:1988", 28595}, {"iso_8859-6", 28596}, {"iso_8859-6:1987", 28596},
    {"iso_8859-7", 28597}, {"iso_8859-7:1987", 28597}, {"iso_8859-8", 28598}, {"iso_8859-8:1988", 28598},
    {"iso_8859-9", 1254}, {"iso_8859-9:1989", 1254}, {"koi", 20866}, {"koi8", 20866}, {"koi8-r", 20866},
    {"koi8-ru", 21866}, {"koi8-u", 21866}, {"koi8_r", 20866}, {"korean", 949}, {"ks_c_5601-1987", 949},
    {"ks_c_5601-1989", 949}, {"ksc5601", 949}, {"ksc_5601", 949}, {"l1", 1252}, {"l2", 28592}, {"l3", 28593},
    {"l4", 28594}, {"l5", 1254}, {"l9", 28605}, {"latin-9", 28605}, {"latin1", 1252}, {"latin2", 28592},
    {"latin3", 28593}, {"latin4", 28594}, {"latin5", 1254}, {"latin9", 28605}, {"logical", 28598}, {"mac", 10000},
    {"macintosh", 10000}, {"ms932", 932}, {"ms936", 936}, {"ms_kanji", 932}, {"shift-jis", 932}, {"shift_jis", 932},
    {"sjis", 932}, {"sun_eu_greek", 28597}, {"tis-620", 874}, {"unicode-1-1-utf-8", 65001}, {"unicode11utf8", 65001},
    {"unicode20utf8", 65001}, {"us", 20127}, {"us-ascii", 20127}, {"utf-8", 65001}, {"utf8", 65001},
    {"visual", 28598}, {"windows-1250", 1250}, {"windows-1251", 1251}, {"windows-1252", 1252},
    {"windows-1253", 1253}, {"windows-1254", 1254}, {"windows-1255", 1255}, {"windows-1256", 1256},
    {"windows-1257", 1257}, {"windows-1258", 1258}, {"windows-31j", 932}, {"windows-874", 874}, {"windows-936", 936},
    {"windows-949", 949}, {"x-cp1250", 1250}, {"x-cp1251", 1251}, {"x-cp1252", 1252}, {"x-cp1253", 1253},
    {"x-cp1254", 1254}, {"x-cp1255", 1255}, {"x-cp1256", 1256}, {"x-cp1257", 1257}, {"x-cp1258", 1258},
    {"x-euc-jp", 20932}, {"x-gbk", 936}, {"x-mac-cyrillic", 10007}, {"x-mac-roman", 10000},
    {"x-mac-ukrainian", 10007}, {"x-sjis", 932}, {"x-unicode20utf8", 65001}, {"x-x-big5", 950}
};

static_assert(std::ranges::adjacent_find(charset_names, std::ranges::greater_equal{}, &CharsetName::name) ==
                  std::ranges::end(charset_names),
              "charset names must be sorted and unique");

constexpr size_t longest_charset_name = std::ranges::max(charset_names, {}, [](const CharsetName& entry) {
                                            return entry.name.size();
                                        }).name.size();

constexpr bool is_ascii_white_space(wchar_t character)
{
    return character == L' ' || character == L'\t' || character == L'\n' || character == L'\f' || character == L'\r';
}

constexpr bool is_blank(wchar_t character)
{
    return character == L' ' || character == L'\t';
}

std::wstring_view trim(std::wstring_view text, bool (*is_space)(wchar_t))
{
    while (!text.empty() && is_space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_space(text.back()))
        text.remove_suffix(1);
    return text;
}

// What registered charset names are made of: nothing that quotes, breaks a
// line or opens markup gets through.
constexpr bool is_charset_name_character(wchar_t character)
{
    if ((character >= L'a' && character <= L'z') || (character >= L'A' && character <= L'Z') ||
        (character >= L'0' && character <= L'9'))
        return true;
    return std::wstring_view(L"-_.:+").find(character) != std::wstring_view::npos;
}

// Converters that refuse WC_NO_BEST_FIT_CHARS and the default-character
// arguments; their output is checked by decoding it again.
bool refuses_best_fit_flags(UINT code_page)
{
    return (code_page >= 50220 && code_page <= 50229) || code_page == 52936 || code_page == 54936 ||
           (code_page >= 57002 && code_page <= 57011) || code_page == CP_UTF7 || code_page == CP_SYMBOL;
}

// Stateful converters, where escape sequences and shifts make the count of
// characters per byte a matter of the converter: measured before decoding.
// Every other code page gives at most one UTF-16 unit per byte.
bool needs_sizing_pass(UINT code_page)
{
    return (code_page >= 50220 && code_page <= 50229) || code_page == 52936 ||
           (code_page >= 57002 && code_page <= 57011) || code_page == CP_UTF7;
}

constexpr UINT us_ascii = 20127;

std::optional<std::wstring> decode(std::string_view bytes, UINT code_page)
{
    if (bytes.empty())
        return std::wstring();
    const int length = checked_length(bytes.size());
    const int wide_length = platform().MultiByteToWideChar(code_page, 0, bytes.data(), length, nullptr, 0);
    if (wide_length <= 0)
        return std::nullopt;
    std::wstring text(static_cast<size_t>(wide_length), L'\0');
    if (platform().MultiByteToWideChar(code_page, 0, bytes.data(), length, text.data(), wide_length) != wide_length)
        return std::nullopt;
    return text;
}

// Each byte as the character of the same number, into room for them all.
size_t widen_bytes(std::string_view bytes, wchar_t* out)
{
    for (const char byte : bytes)
        *out++ = static_cast<wchar_t>(static_cast<unsigned char>(byte));
    return bytes.size();
}

// The platform's US-ASCII table drops the eighth bit instead of refusing the
// byte (0x8D 0x8A would come out as CR LF): text the server never sent.
size_t decode_us_ascii(std::string_view bytes, wchar_t* out)
{
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        *out++ = value < 0x80 ? static_cast<wchar_t>(value) : L'\xFFFD';
    }
    return bytes.size();
}

}  // namespace

std::optional<UINT> code_page_of_charset(std::wstring_view name)
{
    name = trim(name, is_ascii_white_space);
    if (name.empty() || name.size() > longest_charset_name)
        return std::nullopt;
    std::array<char, longest_charset_name> lower{};
    for (size_t index = 0; index < name.size(); ++index) {
        // Letters are folded as ASCII only (see ascii_lower).
        if (name[index] > 0x7F)
            return std::nullopt;
        lower[index] = static_cast<char>(ascii_lower(name[index]));
    }
    const std::string_view key(lower.data(), name.size());
    const auto found = std::ranges::lower_bound(charset_names, key, {}, &CharsetName::name);
    if (found == std::ranges::end(charset_names) || found->name != key)
        return std::nullopt;
    return found->code_page;
}

std::wstring charset_of_content_type(std::wstring_view content_type)
{
    // The media type holds no quotes, so its end is the first semicolon;
    // from there on, a quoted value is skipped whole, whatever it holds.
    size_t position = content_type.find(L';');
    while (position != std::wstring_view::npos && position < content_type.size()) {
        ++position;
        const size_t name_end = content_type.find_first_of(L"=;", position);
        if (name_end == std::wstring_view::npos)
            break;
        const std::wstring_view name = trim(content_type.substr(position, name_end - position), is_blank);
        position = name_end;
        if (content_type[position] == L';')
            continue;
        ++position;
        while (position < content_type.size() && is_blank(content_type[position]))
            ++position;
        std::wstring value;
        if (position < content_type.size() && content_type[position] == L'"') {
            // A backslash takes the next character as it is; an unclosed
            // quote runs to the end.
            for (++position; position < content_type.size() && content_type[position] != L'"'; ++position) {
                if (content_type[position] == L'\\' && position + 1 < content_type.size())
                    ++position;
                value += content_type[position];
            }
            position = content_type.find(L';', position);
        } else {
            const size_t value_end = content_type.find(L';', position);
            value = content_type.substr(position, value_end == std::wstring_view::npos ? std::wstring_view::npos
                                                                                       : value_end - position);
            position = value_end;
        }
        if (!equal_ignoring_case(name, L"charset"))
            continue;
        const std::wstring_view charset = trim(value, is_blank);
        if (!std::ranges::all_of(charset, is_charset_name_character))
            return {};
        return std::wstring(charset);
    }
    return {};
}

std::optional<std::string> encode_exact(std::wstring_view text, UINT code_page)
{
    if (text.empty())
        return std::string();
    const int wide_length = checked_length(text.size());
    const bool round_trip = refuses_best_fit_flags(code_page);
    // UTF-8 holds every character; WC_ERR_INVALID_CHARS refuses the lone
    // surrogates that would otherwise become U+FFFD. It takes no
    // default-character arguments.
    DWORD flags = 0;
    if (code_page == CP_UTF8)
        flags = WC_ERR_INVALID_CHARS;
    else if (!round_trip)
        flags = WC_NO_BEST_FIT_CHARS;
    BOOL used_default = FALSE;
    LPBOOL used_default_out = flags == WC_NO_BEST_FIT_CHARS ? &used_default : nullptr;

    const int length = platform().WideCharToMultiByte(code_page, flags, text.data(), wide_length, nullptr, 0,
                                                      nullptr, used_default_out);
    if (length <= 0 || used_default)
        return std::nullopt;
    std::string bytes(static_cast<size_t>(length), '\0');
    if (platform().WideCharToMultiByte(code_page, flags, text.data(), wide_length, bytes.data(), length, nullptr,
                                       used_default_out) != length ||
        used_default)
        return std::nullopt;
    if (round_trip && decode(bytes, code_page) != text)
        return std::nullopt;
    return bytes;
}

Bstr bstr_from_encoded(std::span<const EncodedPiece> pieces)
{
    // Room for one UTF-16 unit a byte holds the text of every code page but
    // the stateful ones, which are measured: no sizing pass for the rest,
    // and single-byte text fills the string exactly. Only text that came out
    // shorter is copied into its own size.
    size_t room = 0;
    for (const EncodedPiece& piece : pieces) {
        size_t piece_room = piece.bytes.size();
        if (needs_sizing_pass(piece.code_page) && !piece.bytes.empty()) {
            const int measured = platform().MultiByteToWideChar(
                piece.code_page, 0, piece.bytes.data(), checked_length(piece.bytes.size()), nullptr, 0);
            // Never less than the bytes: the fallback writes one a byte.
            piece_room = std::max(piece_room, static_cast<size_t>(std::max(measured, 0)));
        }
        room += piece_room;
        checked_length(room);
    }
    Bstr text;
    *text.put() = SysAllocStringLen(nullptr, static_cast<UINT>(room));
    if (!text.get())
        throw std::bad_alloc();
    size_t written = 0;
    for (const EncodedPiece& piece : pieces) {
        if (piece.bytes.empty())
            continue;
        wchar_t* const out = text.get() + written;
        if (piece.code_page == us_ascii) {
            written += decode_us_ascii(piece.bytes, out);
            continue;
        }
        const int decoded = platform().MultiByteToWideChar(piece.code_page, 0, piece.bytes.data(),
                                                           checked_length(piece.bytes.size()), out,
                                                           checked_length(room - written));
        // A code page the platform lacks: the bytes are kept, one character
        // each, rather than lost. Any other failure leaves no text to give.
        if (decoded > 0)
            written += static_cast<size_t>(decoded);
        else if (piece.code_page != CP_ACP && !IsValidCodePage(piece.code_page))
            written += widen_bytes(piece.bytes, out);
        else
            throw std::bad_alloc();
    }
    if (written < room)
        return Bstr(std::wstring_view(text.get(), written));
    return text;
}

}  // namespace corvane
