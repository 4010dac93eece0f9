#pragma once
// One whole reply of an FTP server.

#include <string>

namespace corvane::ftpproto {

struct Reply {
    // 100 to 599; 0 for no reply.
    int code = 0;
    // Every line as the server sent it, each ended by CR LF.
    std::string text;

    bool preliminary() const { return code >= 100 && code < 200; }
    bool complete() const { return code >= 200 && code < 300; }
    bool intermediate() const { return code >= 300 && code < 400; }
    bool negative() const { return code >= 400; }
};

}  // namespace corvane::ftpproto
