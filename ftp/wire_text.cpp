#include "ftp/wire_text.h"

#include "frame/error.h"
#include "frame/text.h"

namespace corvane {

namespace {

// Checked on the bytes that are sent, not on the text: whatever the code
// page conversion makes of a character, a line end or NUL cannot slip
// through it.
bool ends_or_cuts_a_line(std::string_view bytes)
{
    return bytes.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

WireText::WireText(std::wstring_view text, HRESULT number, std::wstring_view message, std::wstring_view what)
    : text_(text), ansi_(to_ansi(text))
{
    if (ends_or_cuts_a_line(ansi_)) {
        std::wstring description(message);
        description += L" The ";
        description += what;
        description += L" holds a line break or NUL character, so it was not sent.";
        raise(number, ftp_source, std::move(description));
    }
}

}  // namespace corvane
