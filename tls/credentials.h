#pragma once
// One SChannel client credentials handle, shared by a control connection
// and its data connections: SChannel keys its session cache on the handle
// and the target name, so only streams of one Credentials can resume one
// another's session.

#include "tls/security.h"

namespace corvane::tls {

// The WinInet codes of a secure connection's faults.
namespace codes {
inline constexpr LONG date_invalid = 12037;        // ERROR_INTERNET_SEC_CERT_DATE_INVALID
inline constexpr LONG wrong_name = 12038;          // ERROR_INTERNET_SEC_CERT_CN_INVALID
inline constexpr LONG unknown_authority = 12045;   // ERROR_INTERNET_INVALID_CA
inline constexpr LONG secure_channel = 12157;      // ERROR_INTERNET_SECURITY_CHANNEL_ERROR
inline constexpr LONG cannot_secure = 12175;       // no credentials: nothing to start a handshake with
}  // namespace codes

class Credentials {
public:
    // TLS 1.2, and 1.3 where the platform offers it; no client certificate;
    // the server's chain left to TlsStream, which checks it against the
    // name the caller asked for. Raises Failure(codes::cannot_secure).
    Credentials();
    Credentials(const Credentials&) = delete;
    Credentials& operator=(const Credentials&) = delete;
    ~Credentials();

    // SSPI takes it by non-const pointer but never changes it.
    CredHandle* handle() { return &handle_; }

private:
    CredHandle handle_{};
};

}  // namespace corvane::tls
