#pragma once
// Reads whole replies from a control connection, however the network splits
// them: buffered, so a reply costs one receive, not one per byte.

#include "ftpproto/reply.h"
#include "net/stream.h"

#include <string>

namespace corvane::ftpproto {

// Longest line and longest reply taken; anything longer is refused, never
// buffered without bound.
inline constexpr size_t longest_reply_line = 64 * 1024 + 512;
inline constexpr size_t longest_reply = 1024 * 1024;

class ReplyReader {
public:
    explicit ReplyReader(net::Stream& stream) : stream_(&stream) {}
    // After AUTH TLS the same reader reads from the secured stream; nothing
    // may be left buffered from the clear one.
    void set_stream(net::Stream& stream) { stream_ = &stream; }

    // The next whole reply ("123-" ... "123 " multi-line, or one line).
    // Raises net::Failure: codes::control_dropped when the connection ends
    // first, codes::timed_out when the server is silent for the time-out
    // between bytes, codes::invalid_response (reason says which) for a
    // line too long, a reply too long, or a first line that opens no reply.
    Reply read(DWORD timeout_milliseconds);
    // Bytes received past the last reply.
    bool has_buffered() const { return start_ < buffer_.size(); }

private:
    net::Stream* stream_;
    std::string buffer_;
    size_t start_ = 0;
};

}  // namespace corvane::ftpproto
