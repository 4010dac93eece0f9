#include "tls/tls_stream.h"

#include "net/failure.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace corvane::tls {

namespace {

// Room for a whole handshake flight of large certificate chains; a record
// is at most 16 KiB and its overhead.
constexpr size_t incoming_limit = 64 * 1024;
// A server that keeps the handshake going without ever finishing it.
constexpr int round_limit = 64;

constexpr ULONG requirements = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                               ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;

struct ContextBufferFree {
    void operator()(void* buffer) const { security().FreeContextBuffer(buffer); }
};
using ContextBuffer = std::unique_ptr<void, ContextBufferFree>;

struct CertificateFree {
    void operator()(PCCERT_CONTEXT certificate) const { security().CertFreeCertificateContext(certificate); }
};
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;

struct ChainFree {
    void operator()(PCCERT_CHAIN_CONTEXT chain) const { security().CertFreeCertificateChain(chain); }
};
using Chain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree>;

net::Failure secure_channel_failure()
{
    return net::Failure(codes::secure_channel);
}

DWORD remaining(ULONGLONG deadline)
{
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline)
        throw net::Failure(net::codes::timed_out);
    return static_cast<DWORD>(deadline - now);
}

ULONGLONG deadline_after(DWORD timeout_milliseconds)
{
    return GetTickCount64() + timeout_milliseconds;
}

LONG certificate_code(DWORD verdict)
{
    switch (verdict) {
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
        return codes::unknown_authority;
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
        return codes::wrong_name;
    case static_cast<DWORD>(CERT_E_EXPIRED):
    case static_cast<DWORD>(CERT_E_VALIDITYPERIODNESTING):
        return codes::date_invalid;
    default:
        return codes::secure_channel;
    }
}

}  // namespace

SecurityContext::~SecurityContext()
{
    if (held_)
        security().DeleteSecurityContext(&handle_);
}

TlsStream::TlsStream(std::unique_ptr<net::Stream> inner, std::shared_ptr<Credentials> credentials,
                     std::wstring server_name)
    : inner_(std::move(inner)), credentials_(std::move(credentials)), server_name_(std::move(server_name)),
      incoming_(incoming_limit)
{
}

std::unique_ptr<TlsStream> TlsStream::handshake(std::unique_ptr<net::Stream> inner,
                                                std::shared_ptr<Credentials> credentials, std::wstring server_name,
                                                bool ignore_certificate_errors, DWORD timeout_milliseconds)
{
    std::unique_ptr<TlsStream> stream(new TlsStream(std::move(inner), std::move(credentials), std::move(server_name)));
    stream->negotiate(deadline_after(timeout_milliseconds));
    stream->check_protocol();
    if (!ignore_certificate_errors)
        stream->check_certificate();
    stream->learn_sizes();
    return stream;
}

// One InitializeSecurityContext over the ciphertext held, its token sent
// (an alert too, when it failed). What it left unread stays held.
SECURITY_STATUS TlsStream::initialize(bool first, ULONGLONG deadline)
{
    SecBuffer in[2] = {{static_cast<ULONG>(incoming_size_), SECBUFFER_TOKEN, incoming_.data()},
                       {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc input{SECBUFFER_VERSION, 2, in};
    SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
    SecBufferDesc output{SECBUFFER_VERSION, 1, out};
    ULONG attributes = 0;
    const SECURITY_STATUS status = security().InitializeSecurityContextW(
        credentials_->handle(), first ? nullptr : context_.get(), server_name_.data(), requirements, 0, 0,
        first ? nullptr : &input, 0, first ? context_.get() : nullptr, &output, &attributes, nullptr);
    const ContextBuffer token(out[0].pvBuffer);
    if (first && !FAILED(status))
        context_.hold();
    if (status == SEC_E_INCOMPLETE_MESSAGE)
        return status;
    if (token && out[0].cbBuffer > 0)
        inner_->send({static_cast<const char*>(token.get()), out[0].cbBuffer}, remaining(deadline));
    // A request for a client certificate consumed nothing: the same input
    // goes around again.
    if (FAILED(status) || first || status == SEC_I_INCOMPLETE_CREDENTIALS)
        return status;
    if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0 && in[1].cbBuffer <= incoming_size_) {
        std::memmove(incoming_.data(), incoming_.data() + (incoming_size_ - in[1].cbBuffer), in[1].cbBuffer);
        incoming_size_ = in[1].cbBuffer;
    } else {
        incoming_size_ = 0;
    }
    return status;
}

void TlsStream::negotiate(ULONGLONG deadline)
{
    SECURITY_STATUS status = initialize(true, deadline);
    for (int round = 0; round < round_limit; ++round) {
        switch (status) {
        case SEC_E_OK:
            return;
        case SEC_E_INCOMPLETE_MESSAGE:
            read_more(deadline, codes::secure_channel);
            break;
        case SEC_I_CONTINUE_NEEDED:
            if (incoming_size_ == 0)
                read_more(deadline, codes::secure_channel);
            break;
        case SEC_I_INCOMPLETE_CREDENTIALS:
            // The server asked for a client certificate: it gets none.
            break;
        default:
            throw secure_channel_failure();
        }
        status = initialize(false, deadline);
    }
    throw secure_channel_failure();
}

void TlsStream::check_protocol()
{
    // The credentials already refuse anything older than TLS 1.2, but Wine
    // ignores that part of them and offers TLS 1.0 and 1.1 as well.
    constexpr DWORD outdated = SP_PROT_SSL2 | SP_PROT_SSL3 | SP_PROT_TLS1_0 | SP_PROT_TLS1_1;
    SecPkgContext_ConnectionInfo connection{};
    if (security().QueryContextAttributesW(context_.get(), SECPKG_ATTR_CONNECTION_INFO, &connection) != SEC_E_OK ||
        connection.dwProtocol == 0 || (connection.dwProtocol & outdated) != 0)
        throw secure_channel_failure();
}

void TlsStream::check_certificate()
{
    PCCERT_CONTEXT remote = nullptr;
    if (security().QueryContextAttributesW(context_.get(), SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote) != SEC_E_OK ||
        !remote)
        throw secure_channel_failure();
    const Certificate certificate(remote);

    LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA chain_parameters{};
    chain_parameters.cbSize = sizeof chain_parameters;
    chain_parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chain_parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
    chain_parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT built = nullptr;
    // The intermediates the server sent are in the certificate's own store.
    if (!security().CertGetCertificateChain(nullptr, remote, nullptr, remote->hCertStore, &chain_parameters, 0,
                                            nullptr, &built) ||
        !built)
        throw secure_channel_failure();
    const Chain chain(built);

    HTTPSPolicyCallbackData server{};
    server.cbStruct = sizeof server;
    server.dwAuthType = AUTHTYPE_SERVER;
    server.pwszServerName = server_name_.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &server;
    CERT_CHAIN_POLICY_STATUS verdict{};
    verdict.cbSize = sizeof verdict;
    if (!security().CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, built, &policy, &verdict))
        throw secure_channel_failure();
    if (verdict.dwError != 0)
        throw net::Failure(certificate_code(verdict.dwError));
}

void TlsStream::learn_sizes()
{
    if (security().QueryContextAttributesW(context_.get(), SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK ||
        sizes_.cbMaximumMessage == 0 ||
        size_t{sizes_.cbHeader} + sizes_.cbMaximumMessage + sizes_.cbTrailer > incoming_limit)
        throw secure_channel_failure();
    outgoing_.resize(size_t{sizes_.cbHeader} + sizes_.cbMaximumMessage + sizes_.cbTrailer);
}

void TlsStream::read_more(ULONGLONG deadline, LONG code_at_end)
{
    // Full and still no whole record: more than any honest peer sends.
    if (incoming_size_ == incoming_.size())
        throw secure_channel_failure();
    const size_t received = inner_->receive(std::span(incoming_).subspan(incoming_size_), remaining(deadline));
    if (received == 0)
        throw net::Failure(code_at_end);
    incoming_size_ += received;
}

void TlsStream::send(std::span<const char> bytes, DWORD timeout_milliseconds)
{
    if (we_ended_)
        throw net::Failure(net::codes::connection_ended);
    while (!bytes.empty()) {
        const size_t length = std::min<size_t>(bytes.size(), sizes_.cbMaximumMessage);
        char* const header = outgoing_.data();
        char* const data = header + sizes_.cbHeader;
        std::memcpy(data, bytes.data(), length);
        SecBuffer buffers[4] = {{sizes_.cbHeader, SECBUFFER_STREAM_HEADER, header},
                                {static_cast<ULONG>(length), SECBUFFER_DATA, data},
                                {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, data + length},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc message{SECBUFFER_VERSION, 4, buffers};
        if (security().EncryptMessage(context_.get(), 0, &message, 0) != SEC_E_OK)
            throw secure_channel_failure();
        const size_t record = size_t{buffers[0].cbBuffer} + buffers[1].cbBuffer + buffers[2].cbBuffer;
        if (record > outgoing_.size())
            throw secure_channel_failure();
        inner_->send({header, record}, timeout_milliseconds);
        bytes = bytes.subspan(length);
    }
}

// One record decrypted from the ciphertext held; false when it holds less
// than a record.
bool TlsStream::decrypt_record(ULONGLONG deadline)
{
    SecBuffer buffers[4] = {{static_cast<ULONG>(incoming_size_), SECBUFFER_DATA, incoming_.data()},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc message{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = security().DecryptMessage(context_.get(), &message, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE)
        return false;
    if (status == SEC_I_CONTEXT_EXPIRED) {
        peer_ended_ = true;
        return true;
    }
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE)
        throw secure_channel_failure();
    const SecBuffer* data = nullptr;
    const SecBuffer* extra = nullptr;
    for (const SecBuffer& buffer : std::span(buffers).subspan(1)) {
        if (buffer.BufferType == SECBUFFER_DATA)
            data = &buffer;
        else if (buffer.BufferType == SECBUFFER_EXTRA)
            extra = &buffer;
    }
    const size_t data_size = data && data->pvBuffer ? data->cbBuffer : 0;
    const size_t extra_size = extra ? extra->cbBuffer : 0;
    if (data_size > incoming_size_ || extra_size > incoming_size_)
        throw secure_channel_failure();
    plaintext_.assign(static_cast<const char*>(data_size ? data->pvBuffer : incoming_.data()),
                      static_cast<const char*>(data_size ? data->pvBuffer : incoming_.data()) + data_size);
    plaintext_read_ = 0;
    std::memmove(incoming_.data(), incoming_.data() + (incoming_size_ - extra_size), extra_size);
    incoming_size_ = extra_size;
    if (status == SEC_I_RENEGOTIATE) {
        // TLS 1.3 sends session tickets and key updates after the
        // handshake, which SChannel takes in without a round trip; a
        // renegotiation proper would need one, and is refused.
        SECURITY_STATUS status_after = SEC_E_INCOMPLETE_MESSAGE;
        while ((status_after = initialize(false, deadline)) == SEC_E_INCOMPLETE_MESSAGE)
            read_more(deadline, net::codes::connection_ended);
        if (status_after != SEC_E_OK)
            throw secure_channel_failure();
        return true;
    }
    // Wine reports the peer's close_notify as an empty record with nothing
    // after it.
    if (data_size == 0 && extra_size == 0)
        peer_ended_ = true;
    return true;
}

size_t TlsStream::receive(std::span<char> buffer, DWORD timeout_milliseconds)
{
    // An empty buffer would read as the end of the stream.
    if (buffer.empty())
        throw net::Failure(net::codes::connection_ended);
    const ULONGLONG deadline = deadline_after(timeout_milliseconds);
    for (;;) {
        if (plaintext_read_ < plaintext_.size()) {
            const size_t length = std::min(buffer.size(), plaintext_.size() - plaintext_read_);
            std::memcpy(buffer.data(), plaintext_.data() + plaintext_read_, length);
            plaintext_read_ += length;
            return length;
        }
        if (peer_ended_)
            return 0;
        if (incoming_size_ == 0 || !decrypt_record(deadline))
            read_more(deadline, net::codes::connection_ended);
    }
}

void TlsStream::end_sending(DWORD timeout_milliseconds)
{
    if (!we_ended_) {
        we_ended_ = true;
        DWORD shutdown = SCHANNEL_SHUTDOWN;
        SecBuffer control[1] = {{sizeof shutdown, SECBUFFER_TOKEN, &shutdown}};
        SecBufferDesc control_message{SECBUFFER_VERSION, 1, control};
        if (security().ApplyControlToken(context_.get(), &control_message) != SEC_E_OK)
            throw secure_channel_failure();
        SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
        SecBufferDesc output{SECBUFFER_VERSION, 1, out};
        ULONG attributes = 0;
        const SECURITY_STATUS status = security().InitializeSecurityContextW(
            credentials_->handle(), context_.get(), server_name_.data(), requirements, 0, 0, nullptr, 0, nullptr,
            &output, &attributes, nullptr);
        const ContextBuffer alert(out[0].pvBuffer);
        if (FAILED(status) || !alert || out[0].cbBuffer == 0)
            throw secure_channel_failure();
        inner_->send({static_cast<const char*>(alert.get()), out[0].cbBuffer}, timeout_milliseconds);
    }
    inner_->end_sending(timeout_milliseconds);
}

TlsSession::TlsSession(std::wstring server_name, bool ignore_certificate_errors)
    : credentials_(std::make_shared<Credentials>()), server_name_(std::move(server_name)),
      ignore_certificate_errors_(ignore_certificate_errors)
{
}

std::unique_ptr<TlsStream> TlsSession::open(std::unique_ptr<net::Stream> inner, DWORD timeout_milliseconds) const
{
    return TlsStream::handshake(std::move(inner), credentials_, server_name_, ignore_certificate_errors_,
                                timeout_milliseconds);
}

}  // namespace corvane::tls
