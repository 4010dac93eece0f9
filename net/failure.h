#pragma once
// Why a network or protocol step below the FTP session failed. The code is
// the WinInet error code for the same fault, so that the session composes
// one text for it whichever engine ran the step.

#include "frame/win32.h"

#include <exception>
#include <string>
#include <utility>

namespace corvane::net {

// The WinInet codes the engine below the session reports.
namespace codes {
inline constexpr LONG timed_out = 12002;          // ERROR_INTERNET_TIMEOUT
inline constexpr LONG negative_reply = 12003;     // ERROR_INTERNET_EXTENDED_ERROR: the reply says why
inline constexpr LONG name_not_resolved = 12007;  // ERROR_INTERNET_NAME_NOT_RESOLVED
inline constexpr LONG connection_ended = 12030;   // ERROR_INTERNET_CONNECTION_ABORTED
inline constexpr LONG connection_reset = 12031;   // ERROR_INTERNET_CONNECTION_RESET
inline constexpr LONG cannot_connect = 12029;     // ERROR_INTERNET_CANNOT_CONNECT
inline constexpr LONG control_dropped = 12111;    // ERROR_FTP_DROPPED
inline constexpr LONG invalid_response = 12152;   // ERROR_HTTP_INVALID_SERVER_RESPONSE: a reply no parser takes
}  // namespace codes

class Failure : public std::exception {
public:
    // `reason`: our own words where the code alone says too little;
    // `reply`: the server's reply that explains it, as sent.
    explicit Failure(LONG code, std::wstring reason = {}, std::string reply = {})
        : code_(code), reason_(std::move(reason)), reply_(std::move(reply))
    {
    }

    LONG code() const { return code_; }
    const std::wstring& reason() const { return reason_; }
    const std::string& reply() const { return reply_; }
    const char* what() const noexcept override { return "corvane network failure"; }

private:
    LONG code_;
    std::wstring reason_;
    std::string reply_;
};

}  // namespace corvane::net
