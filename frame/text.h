#pragma once
// Text at the edges: scripts hand us variants and automation strings, the
// platform takes and gives ANSI text in the system code page.

#include "frame/com_ptr.h"
#include "frame/win32.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace corvane {

// A length as the platform's conversions take it; one beyond their reach
// is as good as out of memory.
int checked_length(size_t length);

// ANSI copy (system code page) of automation text for a platform call,
// only when the code page holds every character exactly; nothing when
// best-fit or default characters would stand in for some of them.
std::optional<std::string> to_ansi_exact(std::wstring_view text);

// The same for text already checked with to_ansi_exact (or ASCII by its
// own rules); anything else raises the runtime's invalid-argument error
// rather than going out as other characters.
std::string to_ansi(std::wstring_view text);

// Automation text of ANSI bytes the platform produced.
std::wstring from_ansi(std::string_view text);

// UTF-8 bytes of the text; nothing when it holds an unpaired surrogate,
// which no UTF-8 can carry and a stand-in would misname.
std::optional<std::string> to_utf8_exact(std::wstring_view text);

// Text of well-formed UTF-8; nothing for anything else: cut sequences,
// overlong forms (which would let "." or CR hide behind other bytes),
// encoded surrogates and code points past U+10FFFF.
std::optional<std::wstring> from_utf8_exact(std::string_view bytes);

// The same, with each byte of an ill-formed sequence kept as the unpaired
// surrogate U+DC00 + byte: nothing is lost, nothing is merged with
// another text, and to_utf8_exact refuses it on the way back.
std::wstring from_utf8_escaped(std::string_view bytes);

// The bytes from_utf8_escaped read the text from: its kept bytes as they
// were, other unpaired surrogates as U+FFFD.
std::string to_utf8_unescaped(std::wstring_view text);

// One automation string of the pieces, each converted on its own, written
// straight into it: for large bodies, which no temporary copy should double.
Bstr bstr_from_ansi(std::span<const std::string> pieces);

// The bytes of a buffer the platform filled, up to its first NUL.
std::string_view up_to_nul(const char* buffer, size_t capacity);

// Text of an ANSI buffer the platform filled, up to its first NUL.
std::wstring from_ansi_buffer(const char* buffer, size_t capacity);

// A variant's value as text by the standard automation conversion; a value
// without a text form (Null, an object without a default value) raises the
// conversion error unchanged.
std::wstring text_of(const VARIANT& value);

// Leading and trailing space characters (code 32 only) removed.
std::wstring_view trim_spaces(std::wstring_view text);

// Upper case by the invariant locale, for names that ignore case the way
// file systems do (file names, collection keys); unchanged where the
// platform cannot map it, so that a comparison is stricter, never looser.
// Protocol words take the ordinal rule below instead.
std::wstring fold_case(std::wstring_view text);

// The ordinal rule for protocol words (schemes, header and charset names,
// features): ASCII letters fold, nothing else does. Locale rules, the C
// runtime's included (whose locale any module of the process may set),
// would let a Kelvin sign or a dotless i pass for a letter of a word.
template <class Character>
constexpr Character ascii_lower(Character character)
{
    return character >= 'A' && character <= 'Z' ? static_cast<Character>(character - 'A' + 'a') : character;
}

template <class Character>
constexpr Character ascii_upper(Character character)
{
    return character >= 'a' && character <= 'z' ? static_cast<Character>(character - 'a' + 'A') : character;
}

bool equal_ignoring_case(std::wstring_view left, std::wstring_view right);
bool starts_with_ignoring_case(std::wstring_view text, std::wstring_view prefix);

// The value of a run of ASCII digits, at most `longest_digits` of them
// (never more than 19, which cannot overflow); nothing for anything else:
// empty text, signs, blanks, the digits of other scripts.
std::optional<unsigned long long> parse_decimal(std::wstring_view text, size_t longest_digits);

// UTF-16 surrogates, and the code point at `index` (a surrogate pair read
// as one) with `index` moved past it; an unpaired surrogate comes back as
// it is, for the caller to judge.
constexpr bool is_surrogate(char32_t code_point)
{
    return code_point >= 0xD800 && code_point <= 0xDFFF;
}

char32_t next_code_point(std::wstring_view text, size_t& index);

// The UTF-8 bytes of one code point.
void append_utf8(std::string& bytes, char32_t code_point);

// Text as it may stand in an element or an attribute value, quoted with
// either quote. With `references_beyond_ascii`, every other non-ASCII
// character too becomes a numeric reference, which the page's code page
// cannot spoil; an unpaired surrogate then shows as U+FFFD.
std::wstring html_escape(std::wstring_view text, bool references_beyond_ascii = false);

// C0 controls and DEL: what ends or bends a protocol line.
inline bool is_control_character(wchar_t character)
{
    return character < 0x20 || character == 0x7F;
}

// A variant holding a copy of the text, for [out, retval] VARIANTs.
void set_variant_text(VARIANT* out, std::wstring_view text);

// An automation string holding a copy of the text, for [out, retval] BSTRs.
BSTR allocate_bstr(std::wstring_view text);

}  // namespace corvane
