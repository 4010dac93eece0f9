// Raw commands, the last server response, the current remote directory and
// the single-call remote operations.

#include "ftp/session.h"

#include "frame/error.h"
#include "frame/error_text.h"
#include "frame/platform.h"
#include "frame/text.h"
#include "ftp/ftp_errors.h"

#include <algorithm>
#include <vector>

namespace corvane::ftp {

namespace {

constexpr DWORD directory_capacity = MAX_PATH;
// A directory text longer than any server sends; the growing buffer stops
// here.
constexpr DWORD directory_capacity_limit = 64 * 1024;
constexpr DWORD command_read_size = 4096;

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
    ServerWait wait(*this, errors::execute_command);
    InternetHandle data_channel;
    const BOOL sent = platform().FtpCommandA(connection_.get(), expect_response, transfer_flags(), line.ansi(), 0,
                                             data_channel.put());
    wait.finish();
    if (!sent)
        raise_platform_failure(errors::execute_command, L"ExecuteCommand");

    // The whole reply, however the network splits it. A read that fails
    // leaves a reply cut short: passed off as the whole, it would be read
    // as the server's complete answer.
    std::string reply;
    if (expect_response == VARIANT_TRUE) {
        std::vector<char> chunk(command_read_size);
        for (;;) {
            DWORD bytes_read = 0;
            ServerWait read_wait(*this, errors::execute_command);
            const BOOL read = platform().InternetReadFile(data_channel.get(), chunk.data(), command_read_size,
                                                          &bytes_read);
            read_wait.finish();
            if (!read)
                raise_platform_failure(errors::execute_command, L"ExecuteCommand");
            if (bytes_read == 0)
                break;
            reply.append(chunk.data(), bytes_read);
        }
    }
    data_channel = InternetHandle();
    return text_of_wire(reply);
}

std::wstring Session::last_response() const
{
    return text_of_wire(last_response_bytes());
}

std::wstring Session::current_directory()
{
    if (!connected_)
        raise(errors::not_connected);
    std::vector<char> buffer(directory_capacity, '\0');
    for (;;) {
        DWORD length = static_cast<DWORD>(buffer.size());
        ServerWait wait(*this, errors::retrieve_directory);
        const BOOL done = platform().FtpGetCurrentDirectoryA(connection_.get(), buffer.data(), &length);
        wait.finish();
        if (done)
            break;
        const DWORD code = platform().GetLastError();
        if (code != ERROR_INSUFFICIENT_BUFFER || buffer.size() >= directory_capacity_limit)
            raise_platform_error(errors::retrieve_directory, static_cast<LONG>(code), L"Directory");
        // A path longer than the buffer. The platform may say how much it
        // needs (Windows) or not (Wine leaves the length alone): grow by
        // what it says or by doubling, whichever is more.
        const size_t doubled = buffer.size() * 2;
        const size_t asked = static_cast<size_t>(length) + 1;
        buffer.assign(std::min<size_t>(std::max(doubled, asked), directory_capacity_limit), '\0');
    }
    return collapse_double_slashes(text_of_wire(up_to_nul(buffer.data(), buffer.size())) + L"/");
}

void Session::change_directory(const WireText& directory)
{
    if (!connected_)
        raise(errors::not_connected);
    ServerWait wait(*this, errors::set_directory);
    const BOOL done = platform().FtpSetCurrentDirectoryA(connection_.get(), directory.ansi());
    wait.finish();
    if (!done)
        raise_platform_failure(errors::set_directory, L"Directory");
}

void Session::return_after_failure(const std::wstring& directory) noexcept
{
    if (!connected_)
        return;
    const LONG failure_code = last_reply_code_;
    try {
        change_directory(wire(directory, errors::set_directory));
    } catch (...) {
        // The failure that brought us here is the one to report.
    }
    last_reply_code_ = failure_code;
}

void Session::create_directory(const WireText& name)
{
    ServerWait wait(*this, errors::create_directory);
    const BOOL done = platform().FtpCreateDirectoryA(connection_.get(), name.ansi());
    wait.finish();
    if (!done)
        raise_platform_failure(errors::create_directory, L"CreateDirectory");
}

void Session::remove_directory(const WireText& name)
{
    ServerWait wait(*this, errors::remove_directory);
    const BOOL done = platform().FtpRemoveDirectoryA(connection_.get(), name.ansi());
    wait.finish();
    if (!done)
        raise_platform_failure(errors::remove_directory, L"RemoveDirectory");
}

void Session::rename(const WireText& old_name, const WireText& new_name)
{
    ServerWait wait(*this, errors::rename_file);
    const BOOL done = platform().FtpRenameFileA(connection_.get(), old_name.ansi(), new_name.ansi());
    wait.finish();
    if (!done)
        raise_platform_failure(errors::rename_file, L"RenameFile");
}

void Session::delete_file(const WireText& name)
{
    ServerWait wait(*this, errors::delete_file);
    const BOOL done = platform().FtpDeleteFileA(connection_.get(), name.ansi());
    wait.finish();
    if (!done)
        raise_platform_failure(errors::delete_file, L"DeleteFile");
}

}  // namespace corvane::ftp
