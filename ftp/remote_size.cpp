// A remote file's size, from the server's SIZE reply.

#include "ftp/session.h"

#include "frame/error.h"
#include "frame/error_text.h"
#include "frame/text.h"
#include "ftp/ftp_errors.h"

namespace corvane::ftp {

namespace {

// Fewer digits than overflow 64 bits, more than any real file needs.
constexpr size_t longest_size_text = 18;
constexpr int file_status = 213;
constexpr int file_unavailable = 550;

std::wstring reason_of(const std::wstring& reply)
{
    return reply.empty() ? std::wstring(L"The server's reply is not known.") : reply;
}

// Exactly "213 <digits>": anything else is no size, whatever digits it
// holds, and its text is the reason.
unsigned long long size_in_reply(const std::wstring& reply)
{
    const std::wstring_view digits = reply.size() > 4 ? std::wstring_view(reply).substr(4) : std::wstring_view();
    const std::optional<unsigned long long> size = parse_decimal(digits, longest_size_text);
    if (reply_code(reply) != file_status || reply[3] != L' ' || !size)
        raise_with_reason(errors::remote_file_size, reason_of(reply));
    return *size;
}

}  // namespace

std::wstring Session::command_reply(const std::string& command, const ErrorCode& error, std::wstring_view procedure)
{
    return engine(error, procedure).command_reply(command, error, procedure);
}

void Session::switch_to_binary(const ErrorCode& error)
{
    const std::wstring reply = command_reply("TYPE I", error, L"TYPE");
    // An unknown reply passes: the platform reported success.
    const int code = reply_code(reply);
    if (code >= 300 || (code == 0 && !reply.empty()))
        raise_with_reason(error, reply);
}


std::wstring Session::size_reply(const WireText& remote_path)
{
    switch_to_binary(errors::remote_file_size);
    return command_reply(std::string("SIZE ") + remote_path.ansi(), errors::remote_file_size, L"RemoteFileSize");
}

std::optional<unsigned long long> Session::find_remote_file_size(const WireText& remote_path)
{
    const std::wstring reply = size_reply(remote_path);
    if (reply_code(reply) == file_unavailable)
        return std::nullopt;
    return size_in_reply(reply);
}

unsigned long long Session::remote_file_size(const WireText& remote_path)
{
    return size_in_reply(size_reply(remote_path));
}

}  // namespace corvane::ftp
