#include "ftp/replies.h"

#include "frame/error_text.h"
#include "wininet/error_text.h"

namespace corvane::ftp {

std::optional<std::wstring> incomplete_transfer_reason()
{
    std::wstring reply = last_response_text();
    if (reply.empty())
        return std::nullopt;
    const int code = reply_code(reply);
    if (code >= 200 && code < 300)
        return std::nullopt;
    if (code >= 400)
        return reply;
    // A preliminary reply, or a line of the data itself (Wine reads listing
    // lines into the same record), is the last thing the server said.
    return std::wstring(L"The transfer ended without the server's final reply.");
}

}  // namespace corvane::ftp
