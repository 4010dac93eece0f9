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

// ANSI copy (system code page) of automation text for a platform call.
// A length as the platform's conversions take it; one beyond their reach
// is as good as out of memory.
int checked_length(size_t length);

std::string to_ansi(std::wstring_view text);

// The same, only when the code page holds every character exactly; nothing
// when best-fit or default characters would stand in for some of them.
std::optional<std::string> to_ansi_exact(std::wstring_view text);

// Automation text of ANSI bytes the platform produced.
std::wstring from_ansi(std::string_view text);

// One automation string of the pieces, each converted on its own, written
// straight into it: for large bodies, which no temporary copy should double.
Bstr bstr_from_ansi(std::span<const std::string> pieces);

// Text of an ANSI buffer the platform filled, up to its first NUL.
std::wstring from_ansi_buffer(const char* buffer, size_t capacity);

// A variant's value as text by the standard automation conversion; a value
// without a text form (Null, an object without a default value) raises the
// conversion error unchanged.
std::wstring text_of(const VARIANT& value);

// Leading and trailing space characters (code 32 only) removed.
std::wstring_view trim_spaces(std::wstring_view text);

// Upper case by the invariant locale, for comparisons that ignore case;
// unchanged where the platform cannot map it, so that a comparison is
// stricter, never looser.
std::wstring fold_case(std::wstring_view text);

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
