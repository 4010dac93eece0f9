#pragma once
// TLS over any net::Stream through SChannel: the control connection after
// AUTH TLS, every data connection under PROT P, implicit FTPS from the
// first byte.

#include "net/stream.h"
#include "tls/credentials.h"

#include <memory>
#include <string>
#include <vector>

namespace corvane::tls {

// Owns one security context; DeleteSecurityContext through the seam.
class SecurityContext {
public:
    SecurityContext() = default;
    SecurityContext(const SecurityContext&) = delete;
    SecurityContext& operator=(const SecurityContext&) = delete;
    ~SecurityContext();
    CtxtHandle* get() { return &handle_; }
    bool held() const { return held_; }
    void hold() { held_ = true; }

private:
    CtxtHandle handle_{};
    bool held_ = false;
};

class TlsStream final : public net::Stream {
public:
    // The handshake over `inner`, then (unless ignore_certificate_errors)
    // the server's chain checked for `server_name`; nothing older than
    // TLS 1.2 is taken. The whole handshake has one time-out. Raises Failure: codes::unknown_authority,
    // wrong_name, date_invalid for the certificate, codes::secure_channel
    // for the handshake, the inner stream's own codes for its faults.
    static std::unique_ptr<TlsStream> handshake(std::unique_ptr<net::Stream> inner,
                                                std::shared_ptr<Credentials> credentials, std::wstring server_name,
                                                bool ignore_certificate_errors, DWORD timeout_milliseconds);
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    void send(std::span<const char> bytes, DWORD timeout_milliseconds) override;
    // 0 once the peer's close_notify came; a connection that ends without
    // one was cut short (net::codes::connection_ended), for a download
    // ended so may be truncated by anyone on the path.
    size_t receive(std::span<char> buffer, DWORD timeout_milliseconds) override;
    // Our close_notify, then the inner stream's end.
    void end_sending(DWORD timeout_milliseconds) override;
    const net::Endpoint& local() const override { return inner_->local(); }
    const net::Endpoint& peer() const override { return inner_->peer(); }

private:
    TlsStream(std::unique_ptr<net::Stream> inner, std::shared_ptr<Credentials> credentials, std::wstring server_name);
    void negotiate(ULONGLONG deadline);
    SECURITY_STATUS initialize(bool first, ULONGLONG deadline);
    void check_protocol();
    void check_certificate();
    void learn_sizes();
    bool decrypt_record(ULONGLONG deadline);
    void read_more(ULONGLONG deadline, LONG code_at_end);

    std::unique_ptr<net::Stream> inner_;
    std::shared_ptr<Credentials> credentials_;
    std::wstring server_name_;
    SecurityContext context_;
    SecPkgContext_StreamSizes sizes_{};
    // Ciphertext received and not yet decrypted; never more than one
    // record (or handshake flight) of it.
    std::vector<char> incoming_;
    size_t incoming_size_ = 0;
    std::vector<char> plaintext_;
    size_t plaintext_read_ = 0;
    std::vector<char> outgoing_;
    bool peer_ended_ = false;
    bool we_ended_ = false;
};

// The TLS side of one FTP session: its credentials and the name its
// server's certificate must carry. The control connection and every data
// connection open their channels here, so that SChannel, seeing the same
// credentials and target name, resumes the control connection's session
// where it can (servers that insist on it refuse data connections
// without it).
class TlsSession {
public:
    // Raises as Credentials() does.
    TlsSession(std::wstring server_name, bool ignore_certificate_errors);
    std::unique_ptr<TlsStream> open(std::unique_ptr<net::Stream> inner, DWORD timeout_milliseconds) const;
    const std::wstring& server_name() const { return server_name_; }

private:
    std::shared_ptr<Credentials> credentials_;
    std::wstring server_name_;
    bool ignore_certificate_errors_;
};

}  // namespace corvane::tls
