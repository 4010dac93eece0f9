#include "ftpproto/reply_reader.h"

#include "net/failure.h"

#include <algorithm>

namespace corvane::ftpproto {

namespace {

// Each receive asks for this much: a reply costs one call, not one a byte.
constexpr size_t receive_piece = 16 * 1024;

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// "123 " or "123-" with a first digit 1 to 5; the code, or 0.
int opening_code(std::string_view line)
{
    if (line.size() < 4 || line[0] < '1' || line[0] > '5' || !is_digit(line[1]) || !is_digit(line[2]) ||
        (line[3] != ' ' && line[3] != '-'))
        return 0;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

[[noreturn]] void refuse(const wchar_t* reason)
{
    throw net::Failure(net::codes::invalid_response, reason);
}

}  // namespace

Reply ReplyReader::read(DWORD timeout_milliseconds)
{
    buffer_.erase(0, start_);
    start_ = 0;

    Reply reply;
    size_t line_start = 0;
    // Where the search for the next LF goes on after a receive.
    size_t scanned = 0;
    for (;;) {
        const size_t end = buffer_.find('\n', scanned);
        if (end == std::string::npos) {
            if (buffer_.size() - line_start > longest_reply_line)
                refuse(L"The server sent a reply line over 64 KiB long.");
            if (buffer_.size() > longest_reply)
                refuse(L"The server sent a reply longer than 1 MiB.");
            scanned = buffer_.size();
            const size_t held = buffer_.size();
            buffer_.resize(held + receive_piece);
            size_t received = 0;
            try {
                received = stream_->receive({buffer_.data() + held, receive_piece}, timeout_milliseconds);
            } catch (...) {
                buffer_.resize(held);
                throw;
            }
            buffer_.resize(held + received);
            if (received == 0)
                throw net::Failure(net::codes::control_dropped, L"The server closed the control connection.");
            continue;
        }

        std::string_view line(buffer_.data() + line_start, end - line_start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.size() > longest_reply_line)
            refuse(L"The server sent a reply line over 64 KiB long.");
        if (reply.text.size() + line.size() + 2 > longest_reply)
            refuse(L"The server sent a reply longer than 1 MiB.");
        if (reply.code == 0) {
            reply.code = opening_code(line);
            if (reply.code == 0)
                refuse(L"The server sent a line that opens no FTP reply.");
        }
        reply.text.append(line).append("\r\n");
        line_start = scanned = end + 1;
        // The last line repeats the code followed by a space; the first
        // line alone is the whole reply when its code is followed by one.
        if (opening_code(line) == reply.code && line[3] == ' ') {
            start_ = line_start;
            return reply;
        }
    }
}

}  // namespace corvane::ftpproto
