#pragma once
// Text that goes into an FTP command line: remote names, raw commands and
// the login. The platform passes a CR or LF inside it on to the server,
// which takes it as the end of one command and the rest as another, and the
// ANSI copy would end early at a NUL, naming a different file than asked.
// Such text is refused before anything is sent.

#include "frame/error_code.h"
#include "frame/win32.h"

#include <string>
#include <string_view>

namespace corvane::ftp {

// How names travel: in the system code page, or in UTF-8 once the server
// has agreed to it. Either way the platform's A functions carry the bytes.
enum class NameEncoding { ansi, utf8 };

class WireText {
public:
    // Raises `error` with its message, one space and the reason when the
    // text cannot go on the wire as it is; `what` names it in the reason.
    WireText(std::wstring_view text, NameEncoding encoding, const ErrorCode& error, std::wstring_view what = L"name");

    const std::wstring& text() const { return text_; }
    // What the platform gets, in the encoding asked for.
    const char* ansi() const { return ansi_.c_str(); }

private:
    std::wstring text_;
    std::string ansi_;
};

// Text of bytes the server sent (names, directories, replies). Ill-formed
// UTF-8 keeps its bytes as unpaired surrogates (see from_utf8_escaped): such
// a name shows, but cannot go back to the server as some other name.
std::wstring wire_text_of(std::string_view bytes, NameEncoding encoding);

}  // namespace corvane::ftp
