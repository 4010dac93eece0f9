// Charsets: names to code pages, the charset of a Content-Type, exact
// encoding and decoding that never fails. Expected bytes and characters are
// written out from the charsets' own tables, never produced by a conversion.

#include "frame/charsets.h"
#include "frame/text.h"
#include "tests/unit/fake_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace corvane {
namespace {

// A text for failure messages: ASCII as it is, the rest as \uXXXX, cut short.
std::string label(std::wstring_view text)
{
    std::string result;
    for (const wchar_t character : text.substr(0, 40)) {
        if (character >= 0x20 && character < 0x7F) {
            result += static_cast<char>(character);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(character));
            result += escaped;
        }
    }
    return text.size() > 40 ? result + "..." : result;
}

// Protocol words fold by the ordinal rule whatever locale the C runtime was
// given by any module of the process: Turkish maps I and i to dotted and
// dotless forms, and the platform folds the Kelvin sign and long s.
TEST(OrdinalRule, OnlyAsciiLettersFoldInAnyLocale)
{
    struct Case {
        const wchar_t* left;
        const wchar_t* right;
        bool equal;
    };
    const std::vector<Case> cases = {
        {L"Content-Type", L"content-TYPE", true}, {L"ON", L"on", true}, {L"\u212A", L"k", false},
        {L"\u0131", L"I", false}, {L"\u0130", L"i", false}, {L"\u017F", L"s", false},
        {L"\uFF28", L"\uFF48", false}, {L"\u00C9", L"\u00E9", false}, {L"a", L"ab", false},
    };
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "Turkish");
    for (const Case& example : cases) {
        SCOPED_TRACE(label(example.left) + " ~ " + label(example.right));
        EXPECT_EQ(equal_ignoring_case(example.left, example.right), example.equal);
        EXPECT_EQ(starts_with_ignoring_case(std::wstring(example.left) + L"://x", example.right), example.equal);
    }
    EXPECT_EQ(code_page_of_charset(L"\u212Aoi8-r"), std::nullopt);
    std::setlocale(LC_ALL, previous.c_str());
}

// Only ASCII digits count: the platform's digit class holds superscripts,
// fullwidth and Arabic-Indic digits too.
TEST(OrdinalRule, DecimalsAreAsciiDigitsOnly)
{
    const std::vector<std::pair<const wchar_t*, std::optional<unsigned long long>>> cases = {
        {L"000000000000000080", 80}, {L"999999999999999999", 999999999999999999ull},
        {L"1234567890123456789", std::nullopt}, {L"", std::nullopt}, {L"+1", std::nullopt}, {L"1 ", std::nullopt},
        {L"\u00B2", std::nullopt}, {L"\uFF18", std::nullopt}, {L"\u0668", std::nullopt},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(parse_decimal(text, 18), value) << label(text);
}

TEST(Charsets, NamesGiveCodePages)
{
    const struct {
        std::wstring name;
        std::optional<UINT> code_page;
    } cases[] = {
        {L"utf-8", 65001},
        {L"UTF-8", 65001},
        {L" \tUtf8 \r\n", 65001},
        {L"US-ASCII", 20127},
        {L"iso-8859-1", 1252},
        {L"Latin1", 1252},
        {L"ISO_8859-15", 28605},
        {L"cp1250", 1250},
        {L"Windows-31J", 932},
        {L"x-sjis", 932},
        {L"iso-2022-jp", 50220},
        {L"GB18030", 54936},
        {L"ks_c_5601-1987", 949},
        // Not charsets of an 8-bit-transported body, or not known.
        {L"utf-16", std::nullopt},
        {L"UTF-16LE", std::nullopt},
        {L"utf-32", std::nullopt},
        {L"iso-8859-10", std::nullopt},
        {L"x-unknown", std::nullopt},
        {L"", std::nullopt},
        {L" \t ", std::nullopt},
        // Near misses: inner blanks, quotes, a NUL, folding beyond ASCII.
        {L"utf 8", std::nullopt},
        {L"utf-8x", std::nullopt},
        {L"\"utf-8\"", std::nullopt},
        {std::wstring(L"utf-8\0", 6), std::nullopt},
        {L"\u212Aoi8-r", std::nullopt},   // Kelvin sign for K
        {L"LAT\u0130N1", std::nullopt},  // dotted capital I
        {L"utf\u012D8", std::nullopt},   // its low byte is "-"
        {std::wstring(100000, L'a'), std::nullopt},
    };
    for (const auto& [name, code_page] : cases)
        EXPECT_EQ(code_page_of_charset(name), code_page) << label(name);
}

// Each name's code page decodes a charset's sample to what that charset's
// table says: a wrong number in the name table shows here.
TEST(Charsets, NamedCodePagesDecodeTheirCharsets)
{
    const struct {
        std::wstring name;
        std::string bytes;
        std::wstring text;
    } cases[] = {
        {L"utf-8", "\xCE\xB1\xE2\x82\xAC", L"\u03B1\u20AC"},
        {L"us-ascii", "Az~", L"Az~"},
        // Latin-1 names read 0x80 as the euro sign, as browsers do.
        {L"iso-8859-1", "\xE9\x80", L"\u00E9\u20AC"},
        {L"iso-8859-2", "\xB1", L"\u0105"},
        {L"iso-8859-3", "\xBB", L"\u011F"},
        {L"iso-8859-4", "\xB1", L"\u0105"},
        {L"iso-8859-5", "\xBF\xE0\xD8", L"\u041F\u0440\u0438"},
        {L"iso-8859-6", "\xC7", L"\u0627"},
        {L"iso-8859-7", "\xE1", L"\u03B1"},
        {L"iso-8859-8", "\xE0", L"\u05D0"},
        {L"iso-8859-8-i", "\xE0", L"\u05D0"},
        {L"iso-8859-9", "\xFD\x80", L"\u0131\u20AC"},
        {L"tis-620", "\xA1", L"\u0E01"},
        {L"iso-8859-13", "\xE0", L"\u0105"},
        {L"iso-8859-15", "\xA4", L"\u20AC"},
        {L"windows-1250", "\xB9", L"\u0105"},
        {L"windows-1251", "\xCF\xF0\xE8", L"\u041F\u0440\u0438"},
        {L"windows-1253", "\xE1", L"\u03B1"},
        {L"windows-1255", "\xE0", L"\u05D0"},
        {L"windows-1256", "\xC7", L"\u0627"},
        {L"windows-1257", "\xE0", L"\u0105"},
        {L"windows-1258", "\xC3", L"\u0102"},
        {L"shift_jis", "\x93\xFA\x96\x7B", L"\u65E5\u672C"},
        {L"euc-jp", "\xC6\xFC\xCB\xDC", L"\u65E5\u672C"},
        {L"gb2312", "\xC4\xE3\xBA\xC3", L"\u4F60\u597D"},
        {L"big5", "\xA4\xA4\xA4\xE5", L"\u4E2D\u6587"},
        {L"euc-kr", "\xC7\xD1\xB1\xDB", L"\uD55C\uAE00"},
        {L"koi8-r", "\xF0\xD2\xC9", L"\u041F\u0440\u0438"},
        {L"koi8-u", "\xA4", L"\u0454"},
        {L"ibm866", "\x8F\xE0\xA8", L"\u041F\u0440\u0438"},
        {L"ibm437", "\x9B", L"\u00A2"},
        {L"ibm850", "\x9B", L"\u00F8"},
        {L"macintosh", "\x8E", L"\u00E9"},
        {L"x-mac-cyrillic", "\x8F", L"\u041F"},
    };
    for (const auto& [name, bytes, text] : cases) {
        const std::optional<UINT> code_page = code_page_of_charset(name);
        if (!code_page) {
            ADD_FAILURE() << label(name) << " has no code page";
            continue;
        }
        const EncodedPiece piece{bytes, *code_page};
        EXPECT_EQ(bstr_from_encoded({&piece, 1}).view(), text) << label(name);
    }
}

TEST(Charsets, ContentTypeNamesItsCharset)
{
    const struct {
        std::wstring content_type;
        std::wstring charset;
    } cases[] = {
        {L"text/html; charset=utf-8", L"utf-8"},
        {L"text/html; Charset=\"UTF-8\"", L"UTF-8"},
        {L"text/html;CHARSET=Shift_JIS", L"Shift_JIS"},
        {L"text/html; charset = koi8-r \t", L"koi8-r"},
        {L"text/plain; format=flowed; charset=iso-8859-1; delsp=yes", L"iso-8859-1"},
        {L"text/html; charset=\"ut\\f-8\"", L"utf-8"},
        {L"text/html; charset=\"utf-8", L"utf-8"},
        {L"text/html; charset=utf-8; charset=koi8-r", L"utf-8"},
        // "charset" inside another parameter's quoted value.
        {L"multipart/mixed; boundary=\"x; charset=koi8-r\"", L""},
        {L"multipart/mixed; boundary=\"a\\\"; charset=koi8-r\"; charset=big5", L"big5"},
        {L"multipart/mixed; boundary=\"charset=koi8-r\"; charset=gbk", L"gbk"},
        // None, or an empty one.
        {L"", L""},
        {L"text/html", L""},
        {L"text/html charset=utf-8", L""},
        {L"text/html; xcharset=koi8-r", L""},
        {L"text/html; charset", L""},
        {L"text/html; charset=", L""},
        {L"text/html; charset=\"\"", L""},
        {L"text/html; charset=;", L""},
        // Values no charset is named like: nothing of them is handed on.
        {L"text/html; charset=\"utf-8\r\nX-Injected: 1\"", L""},
        {L"text/html; charset=\"<script>\"", L""},
        {L"text/html; charset=\"utf 8\"", L""},
    };
    for (const auto& [content_type, charset] : cases)
        EXPECT_EQ(charset_of_content_type(content_type), charset) << label(content_type);
}

TEST(Charsets, EncodesOnlyWhatTheCodePageHoldsExactly)
{
    const struct {
        std::wstring text;
        UINT code_page;
        std::optional<std::string> bytes;
    } cases[] = {
        {L"", CP_UTF8, ""},
        {L"\u03B1\u03B2", CP_UTF8, "\xCE\xB1\xCE\xB2"},
        {L"\u65E5\u672C", CP_UTF8, "\xE6\x97\xA5\xE6\x9C\xAC"},
        {L"\xD83D\xDE00", CP_UTF8, "\xF0\x9F\x98\x80"},
        {L"a\xD800" L"b", CP_UTF8, std::nullopt},
        {L"\xDC00", CP_UTF8, std::nullopt},
        {L"\xDE00\xD83D", CP_UTF8, std::nullopt},
        {L"\u65E5\u672C\u8A9E", 932, "\x93\xFA\x96\x7B\x8C\xEA"},
        {L"\uFF71", 932, "\xB1"},
        // JIS X 0208 has the Russian letters, not the Ukrainian ones.
        {L"\u0416\u0443\u043A", 932, "\x84\x47\x84\x85\x84\x7B"},
        {L"\u041A\u0438\u0457\u0432", 932, std::nullopt},
        {L"\u00A5", 932, std::nullopt},  // best fit: the backslash byte
        {L"\u00E9", 932, std::nullopt},
        {L"\u041F\u0440\u0438\u0432\u0435\u0442", 1251, "\xCF\xF0\xE8\xE2\xE5\xF2"},
        {L"a?b", 1251, "a?b"},
        {L"\u03B1", 1251, std::nullopt},
        {L"\u0100", 1251, std::nullopt},
        {L"\u00E9", 1251, std::nullopt},
        {L"\xD800", 1251, std::nullopt},
        {L"plain text", 20127, "plain text"},
        {L"caf\u00E9", 20127, std::nullopt},
        {L"caf\u00E9 \u20AC", 1252, "caf\xE9 \x80"},
        {L"\u221E", 1252, std::nullopt},
        {L"a", 11, std::nullopt},  // no such code page
    };
    for (const auto& [text, code_page, bytes] : cases)
        EXPECT_EQ(encode_exact(text, code_page), bytes) << "code page " << code_page << ": " << label(text);
}

// Converters that refuse WC_NO_BEST_FIT_CHARS are checked by a round trip.
// Scripted: such a converter that best-fits what it cannot hold.
TEST(Charsets, ConvertersWithoutBestFitFlagsAreCheckedByRoundTrip)
{
    constexpr UINT jis = 50220;
    tests::FakePlatform fake;
    fake.on_WideCharToMultiByte = [&](UINT code_page, DWORD flags, LPCWCH wide, int wide_length, LPSTR text,
                                      int length, LPCCH default_char, LPBOOL used_default) {
        if (code_page != jis)
            return real_platform().WideCharToMultiByte(code_page, flags, wide, wide_length, text, length,
                                                       default_char, used_default);
        if (flags || default_char || used_default) {
            fake.last_error = ERROR_INVALID_FLAGS;
            return 0;
        }
        if (text && length < wide_length)
            return 0;
        for (int index = 0; text && index < wide_length; ++index)
            text[index] = wide[index] == L'\u00E9' ? 'e' : static_cast<char>(wide[index]);
        return wide_length;
    };
    fake.on_MultiByteToWideChar = [](UINT code_page, DWORD flags, LPCCH text, int length, LPWSTR wide,
                                     int wide_length) {
        if (code_page != jis)
            return real_platform().MultiByteToWideChar(code_page, flags, text, length, wide, wide_length);
        if (wide && wide_length < length)
            return 0;
        for (int index = 0; wide && index < length; ++index)
            wide[index] = static_cast<unsigned char>(text[index]);
        return length;
    };
    EXPECT_EQ(encode_exact(L"cafe", jis), std::optional<std::string>("cafe"));
    EXPECT_EQ(encode_exact(L"caf\u00E9", jis), std::nullopt);
}

TEST(Charsets, DecodesBytes)
{
    const struct {
        std::string bytes;
        UINT code_page;
        std::wstring text;
    } cases[] = {
        {"\xCE\xB1\xCE\xB2 \xF0\x9F\x98\x80", CP_UTF8, L"\u03B1\u03B2 \xD83D\xDE00"},
        {"\x93\xFA\x96\x7B\x8C\xEA", 932, L"\u65E5\u672C\u8A9E"},
        {"a\xB1" "b", 932, L"a\uFF71b"},
        {"\xCF\xF0\xE8\xE2\xE5\xF2", 1251, L"\u041F\u0440\u0438\u0432\u0435\u0442"},
        // US-ASCII refuses the eighth bit rather than folding it away.
        {"a\xE9\x8D\x8A" "b", 20127, L"a\uFFFD\uFFFD\uFFFDb"},
        // A code page the platform lacks keeps each byte as a character.
        {"a\xE9", 11, L"a\u00E9"},
        {"", CP_UTF8, L""},
    };
    for (const auto& [bytes, code_page, text] : cases) {
        const EncodedPiece piece{bytes, code_page};
        EXPECT_EQ(bstr_from_encoded({&piece, 1}).view(), text) << "code page " << code_page;
    }
}

// Invalid bytes never fail the decoding: the valid text around them comes
// through, and they become a few characters that are not plain ASCII, so
// that they cannot pass for text the server sent.
TEST(Charsets, DecodesInvalidBytesAsReplacements)
{
    const struct {
        std::string bytes;
        UINT code_page;
        std::wstring before;
        std::wstring after;
        size_t most_replacements;
    } cases[] = {
        {"a\xFF" "b", CP_UTF8, L"a", L"b", 1},
        {"a\xC0\xAF" "b", CP_UTF8, L"a", L"b", 2},            // overlong "/"
        {"a\xED\xA0\x80" "b", CP_UTF8, L"a", L"b", 3},        // encoded surrogate
        {"\xCE\xB1\xE2\x82", CP_UTF8, L"\u03B1", L"", 2},     // cut short
        {"a\x85\x40" "b", 932, L"a", L"b", 2},                // unassigned row
        {"\x93\xFA\x82", 932, L"\u65E5", L"", 1},             // lead byte alone
        {"\xCF\x98\xD0", 1251, L"\u041F", L"\u0420", 1},      // unassigned byte
    };
    for (const auto& [bytes, code_page, before, after, most_replacements] : cases) {
        const EncodedPiece piece{bytes, code_page};
        const Bstr decoded = bstr_from_encoded({&piece, 1});
        const std::wstring_view text = decoded.view();
        SCOPED_TRACE("code page " + std::to_string(code_page) + ", " + std::to_string(bytes.size()) + " bytes");
        ASSERT_GE(text.size(), before.size() + after.size() + 1);
        EXPECT_EQ(text.substr(0, before.size()), before);
        EXPECT_EQ(text.substr(text.size() - after.size()), after);
        const std::wstring_view replaced = text.substr(before.size(), text.size() - before.size() - after.size());
        EXPECT_LE(replaced.size(), most_replacements);
        EXPECT_TRUE(std::ranges::none_of(replaced, [](wchar_t character) { return character < 0x80; }));
    }
}

TEST(Charsets, DecodesEachPieceInItsOwnCodePage)
{
    const struct {
        std::vector<EncodedPiece> pieces;
        std::wstring text;
    } cases[] = {
        {{}, L""},
        // Multi-byte pieces come out shorter than the room set aside.
        {{{"\xCE\xB1", CP_UTF8}, {"\xCF", 1251}, {"Az", 20127}, {"", CP_UTF8}, {"\x93\xFA", 932}, {"\xE9", 1252}},
         L"\u03B1\u041FAz\u65E5\u00E9"},
        // Single-byte ones fill it exactly.
        {{{"\xCF", 1251}, {"\xE1", 1253}, {"\xE9", 1252}}, L"\u041F\u03B1\u00E9"},
    };
    for (const auto& [pieces, text] : cases) {
        EXPECT_EQ(bstr_from_encoded(pieces).view(), text) << label(text);
    }
}

// A stateful converter may give more characters than bytes; scripted here as
// one that gives two a byte and, like the platform, fails on too little room.
TEST(Charsets, StatefulCodePagesAreMeasuredFirst)
{
    constexpr UINT jis = 50221;
    tests::FakePlatform fake;
    fake.on_MultiByteToWideChar = [](UINT code_page, DWORD flags, LPCCH text, int length, LPWSTR wide,
                                     int wide_length) {
        if (code_page != jis)
            return real_platform().MultiByteToWideChar(code_page, flags, text, length, wide, wide_length);
        if (wide && wide_length < 2 * length)
            return 0;
        for (int index = 0; wide && index < length; ++index) {
            wide[2 * index] = static_cast<unsigned char>(text[index]);
            wide[2 * index + 1] = L'\u3099';
        }
        return 2 * length;
    };
    const std::vector<EncodedPiece> pieces = {{"ab", jis}, {"\xCF", 1251}, {"c", jis}};
    EXPECT_EQ(bstr_from_encoded(pieces).view(), L"a\u3099b\u3099\u041Fc\u3099");
}

}  // namespace
}  // namespace corvane
