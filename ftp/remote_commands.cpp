// Raw commands, the last server response, the current remote directory and
// the single-call remote operations.

#include "ftp/session.h"

#include "frame/error.h"
#include "frame/text.h"
#include "ftp/ftp_errors.h"
#include "wininet/error_text.h"

namespace corvane::ftp {

namespace {

// Every "//" replaced by "/" in one left-to-right pass, as a text
// replacement does it: "///" becomes "//".
std::wstring collapse_double_slashes(const std::wstring& text)
{
    std::wstring result;
    result.reserve(text.size());
    for (size_t position = 0; position < text.size();) {
        if (text.compare(position, 2, L"//") == 0) {
            result += L'/';
            position += 2;
        } else {
            result += text[position++];
        }
    }
    return result;
}

}  // namespace

std::wstring Session::execute_command(std::wstring_view command, VARIANT_BOOL expect_response)
{
    const WireText line = wire(command, errors::execute_command, L"command");
    return text_of_wire(engine(errors::execute_command, L"ExecuteCommand").execute_command(line, expect_response, transfer_flags()));
}

std::wstring Session::last_response() const
{
    // Without an engine yet, the platform's record: what it holds is all
    // there is to show.
    return text_of_wire(engine_ ? engine_->last_response() : last_response_bytes());
}

std::wstring Session::current_directory()
{
    if (!connected())
        raise(errors::not_connected);
    return collapse_double_slashes(text_of_wire(engine_->current_directory()) + L"/");
}

void Session::change_directory(const WireText& directory)
{
    if (!connected())
        raise(errors::not_connected);
    engine_->change_directory(directory);
}

void Session::return_after_failure(const std::wstring& directory) noexcept
{
    if (!connected())
        return;
    const LONG failure_code = reply_record_.code;
    try {
        change_directory(wire(directory, errors::set_directory));
    } catch (...) {
        // The failure that brought us here is the one to report.
    }
    reply_record_.code = failure_code;
}

void Session::create_directory(const WireText& name)
{
    engine(errors::create_directory, L"CreateDirectory").create_directory(name);
}

void Session::remove_directory(const WireText& name)
{
    engine(errors::remove_directory, L"RemoveDirectory").remove_directory(name);
}

void Session::rename(const WireText& old_name, const WireText& new_name)
{
    engine(errors::rename_file, L"RenameFile").rename(old_name, new_name);
}

void Session::delete_file(const WireText& name)
{
    engine(errors::delete_file, L"DeleteFile").delete_file(name);
}

}  // namespace corvane::ftp
