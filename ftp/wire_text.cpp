#include "ftp/wire_text.h"

#include "frame/error.h"
#include "frame/text.h"

#include <optional>

namespace corvane::ftp {

namespace {

// Checked on the bytes that are sent, not on the text: whatever the code
// page conversion makes of a character, a line end or NUL cannot slip
// through it.
bool ends_or_cuts_a_line(std::string_view bytes)
{
    return bytes.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

[[noreturn]] void refuse(const ErrorCode& error, std::wstring_view what, std::wstring_view why)
{
    std::wstring description(error.message);
    description += L" The ";
    description += what;
    description += L' ';
    description += why;
    description += L", so it was not sent.";
    raise(error, std::move(description));
}

}  // namespace

WireText::WireText(std::wstring_view text, NameEncoding encoding, const ErrorCode& error, std::wstring_view what)
    : text_(text)
{
    // A character the code page cannot hold would go out as a stand-in
    // ("?"), naming another file, or a pattern, on the server.
    std::optional<std::string> exact;
    if (encoding == NameEncoding::utf8) {
        exact = to_utf8_exact(text);
        if (!exact)
            refuse(error, what, L"holds an unpaired surrogate, which UTF-8 cannot represent");
    } else {
        exact = to_ansi_exact(text);
        if (!exact)
            refuse(error, what, L"holds characters the system code page cannot represent");
    }
    ansi_ = std::move(*exact);
    if (ends_or_cuts_a_line(ansi_))
        refuse(error, what, L"holds a line break or NUL character");
}

std::wstring wire_text_of(std::string_view bytes, NameEncoding encoding)
{
    return encoding == NameEncoding::utf8 ? from_utf8_escaped(bytes) : from_ansi(bytes);
}

}  // namespace corvane::ftp
