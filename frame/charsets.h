#pragma once
// Text in the charsets servers name: which code page a name stands for, the
// charset a Content-Type names, and conversions in a given code page that
// neither guess on the way out nor fail on the way in.

#include "frame/com_ptr.h"
#include "frame/win32.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace corvane {

// The Windows code page of a charset name: IANA names and the aliases in
// common use, letter case (ASCII only) and surrounding white space aside.
// Nothing for a name not in the table, UTF-16 ones included: a body here is
// bytes of an 8-bit-transported charset.
//
// ISO-8859-1, ISO-8859-9 and ISO-8859-11 (TIS-620) give the Windows code
// pages that extend them (1252, 1254, 874), as browsers do: servers that
// name them mostly send the Windows punctuation and euro sign in 0x80-0x9F,
// which the ISO tables would turn into invisible C1 controls, and every
// other byte means the same in both.
std::optional<UINT> code_page_of_charset(std::wstring_view name);

// The charset parameter of a Content-Type value, unquoted ("text/html;
// Charset=\"UTF-8\"" gives "UTF-8"); the first one counts. Empty when there
// is none, or when its value is not a charset name (letters, digits and
// "-_.:+" only), so what comes back is safe to show or to look up.
std::wstring charset_of_content_type(std::wstring_view content_type);

// The text's bytes in the code page, only when every character is held
// exactly; nothing when a best-fit or default character would stand in for
// one, when it holds a lone surrogate, or when the platform lacks the code
// page.
std::optional<std::string> encode_exact(std::wstring_view text, UINT code_page);

// Bytes and the code page they are in. A piece holds whole characters: one
// cut at either end decodes as replacement characters, and a stateful code
// page (ISO-2022) starts each piece in its initial state.
struct EncodedPiece {
    std::string_view bytes;
    UINT code_page;
};

// One automation string of the pieces, each decoded in its own code page and
// written straight into it, so that a large body is never copied whole on
// the way. Bytes invalid in their code page decode as the platform decodes
// them without MB_ERR_INVALID_CHARS (replacement characters), bytes above
// 0x7F in US-ASCII as U+FFFD, and the bytes of a code page the platform
// lacks as ISO-8859-1. A text that cannot be made (no memory for it, a
// conversion the platform refused) raises std::bad_alloc, never comes back
// empty or shortened.
Bstr bstr_from_encoded(std::span<const EncodedPiece> pieces);

}  // namespace corvane
