// The TLS stream against a scripted SChannel: certificate verdicts to
// WinInet codes, one session's credentials and name for every stream,
// records split and joined, both forms of the peer's close_notify, and our
// own. Then once against a real TLS server on 127.0.0.1.
#include "net/failure.h"
#include "net/tcp.h"
#include "tls/tls_stream.h"

#include "tests/integration/loopback_servers.h"
#include "tests/integration/test_certificates.h"

#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <string>
#include <vector>

namespace corvane::tls {
namespace {

constexpr DWORD bound = 10000;

// Its peer's bytes in the pieces they arrive in; what we send, collected.
class ScriptedStream final : public net::Stream {
public:
    explicit ScriptedStream(std::deque<std::string> pieces) : pieces_(std::move(pieces)) {}
    void send(std::span<const char> bytes, DWORD) override { sent.append(bytes.data(), bytes.size()); }
    size_t receive(std::span<char> buffer, DWORD) override
    {
        if (pieces_.empty())
            return 0;
        const size_t length = std::min(buffer.size(), pieces_.front().size());
        pieces_.front().copy(buffer.data(), length);
        pieces_.front().erase(0, length);
        if (pieces_.front().empty())
            pieces_.pop_front();
        return length;
    }
    void end_sending(DWORD) override { ended = true; }
    const net::Endpoint& local() const override { return endpoint_; }
    const net::Endpoint& peer() const override { return endpoint_; }

    std::string sent;
    bool ended = false;

private:
    std::deque<std::string> pieces_;
    net::Endpoint endpoint_;
};

// SChannel played with records "[payload]" both ways: each handshake call
// takes one record and answers with the next of `handshake`; "[!]" is the
// peer's close_notify as Windows reports it, "[]" as Wine does, "[?]" a
// post-handshake message. Counts what it hands out against what is freed.
class ScriptedSecurity final : public SecurityPlatform {
public:
    ScriptedSecurity() { install_security(this); }
    ~ScriptedSecurity() override { install_security(nullptr); }

    std::deque<SECURITY_STATUS> handshake{SEC_I_CONTINUE_NEEDED, SEC_E_OK};
    DWORD verdict = 0;
    bool refuse_newer_credentials = false, chain_fails = false, certificate_missing = false;
    ULONG maximum_message = 5;
    std::vector<std::pair<ULONG_PTR, std::wstring>> first_calls;  // credentials handle, target name
    std::vector<DWORD> credential_versions;
    std::wstring checked_name;
    DWORD checked_authentication = 0;
    DWORD control_token = 0;
    int outstanding = 0;

    SECURITY_STATUS AcquireCredentialsHandleW(SEC_WCHAR*, SEC_WCHAR*, ULONG, void*, void* data, SEC_GET_KEY_FN, void*,
                                              PCredHandle handle, PTimeStamp) override
    {
        credential_versions.push_back(*static_cast<DWORD*>(data));
        if (refuse_newer_credentials && credential_versions.back() == SCH_CREDENTIALS_VERSION)
            return SEC_E_UNKNOWN_CREDENTIALS;
        handle->dwLower = credential_versions.size() * 100;
        ++outstanding;
        return SEC_E_OK;
    }
    SECURITY_STATUS FreeCredentialsHandle(PCredHandle) override { return --outstanding, SEC_E_OK; }
    SECURITY_STATUS InitializeSecurityContextW(PCredHandle credentials, PCtxtHandle context, SEC_WCHAR* name, ULONG,
                                               ULONG, ULONG, PSecBufferDesc input, ULONG, PCtxtHandle new_context,
                                               PSecBufferDesc output, ULONG*, PTimeStamp) override
    {
        if (!context) {
            first_calls.emplace_back(credentials->dwLower, name);
            new_context->dwLower = 7;
            ++outstanding;
            return token(output, "[hello]"), SEC_I_CONTINUE_NEEDED;
        }
        if (!input)
            return token(output, control_token == SCHANNEL_SHUTDOWN ? "[bye]" : ""), SEC_E_OK;
        SecBuffer* buffers = input->pBuffers;
        const std::string_view held(static_cast<const char*>(buffers[0].pvBuffer), buffers[0].cbBuffer);
        const size_t end = held.find(']');
        if (end == held.npos)
            return SEC_E_INCOMPLETE_MESSAGE;
        buffers[1] = {static_cast<ULONG>(held.size() - end - 1), SECBUFFER_EXTRA, nullptr};
        const SECURITY_STATUS status = handshake.empty() ? SEC_E_INTERNAL_ERROR : handshake.front();
        if (!handshake.empty())
            handshake.pop_front();
        return token(output, status == SEC_I_CONTINUE_NEEDED ? "[more]" : ""), status;
    }
    SECURITY_STATUS DeleteSecurityContext(PCtxtHandle) override { return --outstanding, SEC_E_OK; }
    SECURITY_STATUS QueryContextAttributesW(PCtxtHandle, ULONG attribute, void* buffer) override
    {
        if (attribute == SECPKG_ATTR_STREAM_SIZES) {
            *static_cast<SecPkgContext_StreamSizes*>(buffer) = {1, 1, maximum_message, 4, 1};
            return SEC_E_OK;
        }
        if (certificate_missing)
            return SEC_E_NO_CREDENTIALS;
        *static_cast<PCCERT_CONTEXT*>(buffer) = &certificate_;
        return ++outstanding, SEC_E_OK;
    }
    SECURITY_STATUS ApplyControlToken(PCtxtHandle, PSecBufferDesc input) override
    {
        control_token = *static_cast<DWORD*>(input->pBuffers[0].pvBuffer);
        return SEC_E_OK;
    }
    SECURITY_STATUS EncryptMessage(PCtxtHandle, ULONG, PSecBufferDesc message, ULONG) override
    {
        *static_cast<char*>(message->pBuffers[0].pvBuffer) = '[';
        *static_cast<char*>(message->pBuffers[2].pvBuffer) = ']';
        return SEC_E_OK;
    }
    SECURITY_STATUS DecryptMessage(PCtxtHandle, PSecBufferDesc message, ULONG, ULONG*) override
    {
        SecBuffer* buffers = message->pBuffers;
        char* const held = static_cast<char*>(buffers[0].pvBuffer);
        const std::string_view record(held, buffers[0].cbBuffer);
        const size_t end = record.find(']');
        if (end == record.npos)
            return SEC_E_INCOMPLETE_MESSAGE;
        if (record.substr(0, end) == "[!")
            return SEC_I_CONTEXT_EXPIRED;
        buffers[0] = {1, SECBUFFER_STREAM_HEADER, held};
        const bool post_handshake = record.substr(0, end) == "[?";
        buffers[1] = {post_handshake ? 0 : static_cast<ULONG>(end - 1), SECBUFFER_DATA, held + 1};
        buffers[2] = {1, SECBUFFER_STREAM_TRAILER, held + end};
        buffers[3] = {static_cast<ULONG>(record.size() - end - 1), SECBUFFER_EXTRA, held + end + 1};
        if (buffers[3].cbBuffer == 0)
            buffers[3].BufferType = SECBUFFER_EMPTY;
        return post_handshake ? SEC_I_RENEGOTIATE : SEC_E_OK;
    }
    SECURITY_STATUS FreeContextBuffer(void* buffer) override
    {
        delete[] static_cast<char*>(buffer);
        return --outstanding, SEC_E_OK;
    }
    BOOL CertGetCertificateChain(HCERTCHAINENGINE, PCCERT_CONTEXT, LPFILETIME, HCERTSTORE, PCERT_CHAIN_PARA, DWORD,
                                 void*, PCCERT_CHAIN_CONTEXT* chain) override
    {
        if (chain_fails)
            return FALSE;
        *chain = &chain_;
        return ++outstanding, TRUE;
    }
    BOOL CertVerifyCertificateChainPolicy(LPCSTR, PCCERT_CHAIN_CONTEXT, PCERT_CHAIN_POLICY_PARA parameters,
                                          PCERT_CHAIN_POLICY_STATUS status) override
    {
        const auto* server = static_cast<const HTTPSPolicyCallbackData*>(parameters->pvExtraPolicyPara);
        checked_name = server->pwszServerName;
        checked_authentication = server->dwAuthType;
        status->dwError = verdict;
        return TRUE;
    }
    void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT) override { --outstanding; }
    BOOL CertFreeCertificateContext(PCCERT_CONTEXT) override { return --outstanding, TRUE; }

private:
    void token(PSecBufferDesc output, std::string_view bytes)
    {
        if (bytes.empty())
            return;
        output->pBuffers[0] = {static_cast<ULONG>(bytes.size()), SECBUFFER_TOKEN, new char[bytes.size()]};
        bytes.copy(static_cast<char*>(output->pBuffers[0].pvBuffer), bytes.size());
        ++outstanding;
    }

    CERT_CONTEXT certificate_{};
    CERT_CHAIN_CONTEXT chain_{};
};

// The code a handshake ends in, 0 when it succeeds.
LONG handshake_code(ScriptedSecurity&, std::deque<std::string> pieces, bool ignore_certificate_errors)
{
    try {
        TlsSession(L"ftp.example", ignore_certificate_errors)
            .open(std::make_unique<ScriptedStream>(std::move(pieces)), bound);
        return 0;
    } catch (const net::Failure& failure) {
        return failure.code();
    }
}

TEST(TlsHandshake, CertificateAndHandshakeFaultsGiveTheirWinInetCodes)
{
    struct Row {
        const char* what;
        DWORD verdict;
        std::deque<SECURITY_STATUS> handshake;
        bool chain_fails, certificate_missing;
        LONG code, code_ignoring;
    };
    const std::deque<SECURITY_STATUS> good{SEC_I_CONTINUE_NEEDED, SEC_E_OK};
    const Row rows[] = {
        {"sound", 0, good, false, false, 0, 0},
        {"untrusted root", static_cast<DWORD>(CERT_E_UNTRUSTEDROOT), good, false, false, 12045, 0},
        {"issuer not found", static_cast<DWORD>(CERT_E_CHAINING), good, false, false, 12045, 0},
        {"wrong name", static_cast<DWORD>(CERT_E_CN_NO_MATCH), good, false, false, 12038, 0},
        {"expired", static_cast<DWORD>(CERT_E_EXPIRED), good, false, false, 12037, 0},
        {"revoked", static_cast<DWORD>(CRYPT_E_REVOKED), good, false, false, 12157, 0},
        {"no chain", 0, good, true, false, 12157, 0},
        {"no certificate", 0, good, false, true, 12157, 0},
        {"handshake refused", 0, {SEC_I_CONTINUE_NEEDED, SEC_E_ILLEGAL_MESSAGE}, false, false, 12157, 12157},
        {"server asks for a client certificate", 0, {SEC_I_INCOMPLETE_CREDENTIALS, SEC_E_OK}, false, false, 0, 0},
        {"handshake never ends", 0, std::deque<SECURITY_STATUS>(100, SEC_I_CONTINUE_NEEDED), false, false, 12157,
         12157},
    };
    for (const Row& row : rows) {
        for (const bool ignoring : {false, true}) {
            SCOPED_TRACE(std::string(row.what) + (ignoring ? ", ignoring certificate errors" : ""));
            ScriptedSecurity security;
            security.verdict = row.verdict;
            security.handshake = row.handshake;
            security.chain_fails = row.chain_fails;
            security.certificate_missing = row.certificate_missing;
            EXPECT_EQ(handshake_code(security, std::deque<std::string>(100, "[s][f]"), ignoring),
                      ignoring ? row.code_ignoring : row.code);
            EXPECT_EQ(security.outstanding, 0) << "handles or buffers left unfreed";
            if (!ignoring && !row.chain_fails && !row.certificate_missing && row.handshake == good) {
                EXPECT_EQ(security.checked_name, L"ftp.example");
                EXPECT_EQ(security.checked_authentication, static_cast<DWORD>(AUTHTYPE_SERVER));
            }
        }
    }
}

TEST(TlsHandshake, ServerThatHangsUpOrOverflowsIsRefused)
{
    for (const std::string& sent : {std::string("[serv"), "[" + std::string(70 * 1024, 'x')}) {
        ScriptedSecurity security;
        EXPECT_EQ(handshake_code(security, {sent}, true), 12157) << sent.size();
    }
}

TEST(TlsSession, EveryStreamAsksForTheSameSessionWithOneCredentialsHandle)
{
    ScriptedSecurity security;
    security.handshake = {SEC_I_CONTINUE_NEEDED, SEC_E_OK, SEC_I_CONTINUE_NEEDED, SEC_E_OK};
    const TlsSession session(L"ftp.example", false);
    const auto control = session.open(std::make_unique<ScriptedStream>(std::deque<std::string>{"[s][f]"}), bound);
    const auto data = session.open(std::make_unique<ScriptedStream>(std::deque<std::string>{"[s][f]"}), bound);
    ASSERT_EQ(security.first_calls.size(), 2u);
    EXPECT_EQ(security.first_calls[0], security.first_calls[1]);
    EXPECT_EQ(security.first_calls[0].second, L"ftp.example");
    EXPECT_EQ(security.credential_versions, std::vector<DWORD>{SCH_CREDENTIALS_VERSION});
}

TEST(TlsSession, PlatformWithoutNewerCredentialsGetsTheOlder)
{
    ScriptedSecurity security;
    security.refuse_newer_credentials = true;
    EXPECT_EQ(handshake_code(security, {"[s][f]"}, false), 0);
    EXPECT_EQ(security.credential_versions, (std::vector<DWORD>{SCH_CREDENTIALS_VERSION, SCHANNEL_CRED_VERSION}));
}

struct Received {
    std::string bytes;
    LONG code = 0;  // what ended the reading, 0 for the end of the stream
};

Received receive_all(ScriptedSecurity& security, std::deque<std::string> pieces)
{
    security.handshake = {SEC_I_CONTINUE_NEEDED, SEC_E_OK, SEC_E_OK};
    auto stream = TlsSession(L"h", false).open(std::make_unique<ScriptedStream>(std::move(pieces)), bound);
    Received received;
    char buffer[3];
    try {
        while (const size_t length = stream->receive(buffer, bound))
            received.bytes.append(buffer, length);
    } catch (const net::Failure& failure) {
        received.code = failure.code();
    }
    return received;
}

TEST(TlsStream, RecordsSplitAndJoinedAndBothFormsOfTheEnd)
{
    struct Row {
        const char* what;
        std::deque<std::string> pieces;
        std::string bytes;
        LONG code;
    };
    const Row rows[] = {
        {"data behind the handshake, close_notify as on Windows", {"[s][f][abcd]", "[e][!]"}, "abcde", 0},
        {"records split across reads, close_notify as under Wine", {"[s][f", "][ab", "c][", "de]", "[]"}, "abcde", 0},
        {"an empty record before more data ends nothing", {"[s][f]", "[a][][b][]"}, "ab", 0},
        {"cut without close_notify", {"[s][f]", "[ab]"}, "ab", 12030},
        {"a session ticket is taken in", {"[s][f]", "[?][t]", "[ab][!]"}, "ab", 0},
        {"a record larger than any", {"[s][f]", "[" + std::string(70 * 1024, 'x')}, "", 12157},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ScriptedSecurity security;
        const Received received = receive_all(security, row.pieces);
        EXPECT_EQ(received.bytes, row.bytes);
        EXPECT_EQ(received.code, row.code);
    }
}

TEST(TlsStream, RenegotiationIsRefused)
{
    ScriptedSecurity security;
    security.handshake = {SEC_I_CONTINUE_NEEDED, SEC_E_OK, SEC_I_CONTINUE_NEEDED};
    auto stream = TlsSession(L"h", false).open(std::make_unique<ScriptedStream>(std::deque<std::string>{"[s][f]", "[?][hello request]"}), bound);
    char buffer[8];
    try {
        stream->receive(buffer, bound);
        ADD_FAILURE() << "renegotiated";
    } catch (const net::Failure& failure) {
        EXPECT_EQ(failure.code(), 12157);
    }
}

TEST(TlsStream, SendsRecordsOfTheNegotiatedSizeAndEndsWithCloseNotify)
{
    ScriptedSecurity security;
    auto inner = std::make_unique<ScriptedStream>(std::deque<std::string>{"[s][f]"});
    ScriptedStream& wire = *inner;
    auto stream = TlsSession(L"h", false).open(std::move(inner), bound);
    stream->send(std::string_view("abcdefghijkl"), bound);
    stream->end_sending(bound);
    EXPECT_EQ(wire.sent, "[hello][more][abcde][fghij][kl][bye]");
    EXPECT_EQ(security.control_token, static_cast<DWORD>(SCHANNEL_SHUTDOWN));
    EXPECT_TRUE(wire.ended);
    EXPECT_THROW(stream->send(std::string_view("m"), bound), net::Failure);
}

// Against Python's TLS: a few hundred KiB echoed byte-exact, and our
// close_notify seen by the server, its own by us.
TEST(TlsLoopback, EchoesByteExactAndClosesWithCloseNotify)
{
    const auto& certificates = integration::process_certificates();
    const integration::TrustedRoot root(certificates.ca_der());
    const std::string folder = certificates.key().substr(0, certificates.key().rfind('/'));
    const std::string result = folder + "/echo-result";
    const int port = unused_loopback_port();
    run_python_tool("tls_echo_server.py",
                    {"--port", std::to_string(port), "--cert", certificates.cert(), "--key", certificates.key(),
                     "--ready", folder + "/echo-ready", "--result", result},
                    folder + "/echo-ready");

    const unsigned char loopback[4] = {127, 0, 0, 1};
    auto stream = TlsSession(L"localhost", false)
                      .open(net::TcpStream::connect(net::Endpoint::ipv4(loopback, static_cast<unsigned short>(port)),
                                                    bound),
                            bound);
    std::string content(300 * 1024 + 5, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 13 + i / 509);
    std::string back;
    std::vector<char> buffer(20000);
    // In steps, so that neither side's buffers fill while the other writes.
    for (size_t sent = 0; sent < content.size(); sent += 16384) {
        stream->send(std::string_view(content).substr(sent, 16384), bound);
        while (back.size() < std::min(content.size(), sent + 16384)) {
            const size_t length = stream->receive(buffer, bound);
            ASSERT_GT(length, 0u);
            back.append(buffer.data(), length);
        }
    }
    EXPECT_TRUE(back == content) << back.size() << " bytes back";
    stream->end_sending(bound);
    EXPECT_EQ(stream->receive(buffer, bound), 0u);
    std::ifstream verdict("Z:" + result);
    std::string line;
    std::getline(verdict, line);
    EXPECT_EQ(line.substr(0, line.find(' ')), "close_notify") << line;
}

}  // namespace
}  // namespace corvane::tls
