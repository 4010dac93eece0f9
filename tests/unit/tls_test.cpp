// The TLS stream against a scripted SChannel: certificate verdicts to
// WinInet codes, one credentials handle and name for a session's streams,
// records split and joined, both forms of the peer's close_notify, our own;
// then once against Python's TLS on 127.0.0.1.
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
using Pieces = std::deque<std::string>;
using Statuses = std::deque<SECURITY_STATUS>;

// The peer's bytes in the pieces they arrive in, then the end; ours collected.
class ScriptedStream final : public net::Stream {
public:
    explicit ScriptedStream(Pieces pieces) : pieces_(std::move(pieces)) {}
    void send(std::span<const char> bytes, DWORD) override { sent.append(bytes.data(), bytes.size()); }
    size_t receive(std::span<char> buffer, DWORD) override
    {
        if (pieces_.empty())
            return 0;
        const size_t length = pieces_.front().copy(buffer.data(), buffer.size());
        if (pieces_.front().erase(0, length).empty())
            pieces_.pop_front();
        return length;
    }
    void end_sending(DWORD) override { ended = true; }
    const net::Endpoint& local() const override { return endpoint_; }
    const net::Endpoint& peer() const override { return endpoint_; }
    std::string sent;
    bool ended = false;

private:
    Pieces pieces_;
    net::Endpoint endpoint_;
};

// SChannel with records "[payload]" both ways. Each handshake call takes one
// record and answers the next of `handshake`; "[!]" is the peer's
// close_notify as Windows reports it, "[]" as Wine does, "[?]" a message
// after the handshake. `outstanding` counts handles and buffers unfreed.
class ScriptedSecurity final : public SecurityPlatform {
public:
    ScriptedSecurity() { install_security(this); }
    ~ScriptedSecurity() override { install_security(nullptr); }

    Statuses handshake{SEC_I_CONTINUE_NEEDED, SEC_E_OK};
    DWORD verdict = 0, protocol = SP_PROT_TLS1_2_CLIENT, control_token = 0;
    bool refuse_newer_credentials = false, chain_fails = false, certificate_missing = false;
    std::vector<std::pair<ULONG_PTR, std::wstring>> first_calls;  // credentials handle, target name
    std::vector<DWORD> credential_versions;
    std::wstring checked_name;
    DWORD checked_authentication = 0;
    int outstanding = 0;

    SECURITY_STATUS AcquireCredentialsHandleW(SEC_WCHAR*, SEC_WCHAR*, ULONG, void*, void* data, SEC_GET_KEY_FN, void*,
                                              PCredHandle handle, PTimeStamp) override
    {
        credential_versions.push_back(*static_cast<DWORD*>(data));
        if (refuse_newer_credentials && credential_versions.back() == SCH_CREDENTIALS_VERSION)
            return SEC_E_UNKNOWN_CREDENTIALS;
        handle->dwLower = credential_versions.size() * 100;
        return ++outstanding, SEC_E_OK;
    }
    SECURITY_STATUS FreeCredentialsHandle(PCredHandle) override { return --outstanding, SEC_E_OK; }
    SECURITY_STATUS InitializeSecurityContextW(PCredHandle credentials, PCtxtHandle context, SEC_WCHAR* name, ULONG,
                                               ULONG, ULONG, PSecBufferDesc input, ULONG, PCtxtHandle,
                                               PSecBufferDesc output, ULONG*, PTimeStamp) override
    {
        if (!context) {
            first_calls.emplace_back(credentials->dwLower, name);
            return ++outstanding, token(output, "[hello]"), SEC_I_CONTINUE_NEEDED;
        }
        if (!input)
            return token(output, control_token == SCHANNEL_SHUTDOWN ? "[bye]" : ""), SEC_E_OK;
        const std::string_view held(static_cast<char*>(input->pBuffers[0].pvBuffer), input->pBuffers[0].cbBuffer);
        if (held.find(']') == held.npos)
            return SEC_E_INCOMPLETE_MESSAGE;
        const SECURITY_STATUS status = handshake.empty() ? SEC_E_INTERNAL_ERROR : handshake.front();
        if (!handshake.empty())
            handshake.pop_front();
        // Asking for a client certificate, SChannel takes nothing in.
        if (status != SEC_I_INCOMPLETE_CREDENTIALS)
            input->pBuffers[1] = {static_cast<ULONG>(held.size() - held.find(']') - 1), SECBUFFER_EXTRA, nullptr};
        return token(output, status == SEC_I_CONTINUE_NEEDED ? "[more]" : ""), status;
    }
    SECURITY_STATUS DeleteSecurityContext(PCtxtHandle) override { return --outstanding, SEC_E_OK; }
    SECURITY_STATUS QueryContextAttributesW(PCtxtHandle, ULONG attribute, void* buffer) override
    {
        if (attribute == SECPKG_ATTR_CONNECTION_INFO)
            static_cast<SecPkgContext_ConnectionInfo*>(buffer)->dwProtocol = protocol;
        else if (attribute == SECPKG_ATTR_STREAM_SIZES)
            *static_cast<SecPkgContext_StreamSizes*>(buffer) = {1, 1, 5, 4, 1};
        else if (certificate_missing)
            return SEC_E_NO_CREDENTIALS;
        else
            *static_cast<PCCERT_CONTEXT*>(buffer) = &certificate_, ++outstanding;
        return SEC_E_OK;
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
        if (record.starts_with("[!]"))
            return SEC_I_CONTEXT_EXPIRED;
        const bool after_handshake = record.starts_with("[?]");
        const auto extra = static_cast<ULONG>(record.size() - end - 1);
        buffers[0] = {1, SECBUFFER_STREAM_HEADER, held};
        buffers[1] = {after_handshake ? 0 : static_cast<ULONG>(end - 1), SECBUFFER_DATA, held + 1};
        buffers[2] = {1, SECBUFFER_STREAM_TRAILER, held + end};
        buffers[3] = {extra, extra ? ULONG{SECBUFFER_EXTRA} : ULONG{SECBUFFER_EMPTY}, held + end + 1};
        return after_handshake ? SEC_I_RENEGOTIATE : SEC_E_OK;
    }
    SECURITY_STATUS FreeContextBuffer(void* buffer) override
    {
        delete[] static_cast<char*>(buffer);
        return --outstanding, SEC_E_OK;
    }
    BOOL CertGetCertificateChain(HCERTCHAINENGINE, PCCERT_CONTEXT, LPFILETIME, HCERTSTORE, PCERT_CHAIN_PARA, DWORD,
                                 void*, PCCERT_CHAIN_CONTEXT* chain) override
    {
        *chain = &chain_;
        return chain_fails ? FALSE : (++outstanding, TRUE);
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
        if (!bytes.empty()) {
            output->pBuffers[0] = {static_cast<ULONG>(bytes.size()), SECBUFFER_TOKEN, new char[bytes.size()]};
            bytes.copy(static_cast<char*>(output->pBuffers[0].pvBuffer), bytes.size());
            ++outstanding;
        }
    }
    CERT_CONTEXT certificate_{};
    CERT_CHAIN_CONTEXT chain_{};
};

// The code a handshake ends in, 0 when it succeeds.
LONG handshake_code(Pieces pieces, bool ignore_certificate_errors)
{
    try {
        TlsSession(L"ftp.example", ignore_certificate_errors).open(std::make_unique<ScriptedStream>(pieces), bound);
        return 0;
    } catch (const net::Failure& failure) {
        return failure.code();
    }
}

TEST(TlsHandshake, FaultsGiveTheirWinInetCodesAndIgnoringSkipsOnlyTheCertificate)
{
    struct Row {
        const char* what;
        DWORD verdict = 0, protocol = SP_PROT_TLS1_2_CLIENT;
        Statuses handshake{SEC_I_CONTINUE_NEEDED, SEC_E_OK};
        bool chain_fails = false, certificate_missing = false;
        LONG code = 0, code_ignoring = 0;
        Pieces pieces{"[s][f]"};
    };
    const Row rows[] = {
        {.what = "sound"},
        {.what = "TLS 1.3", .protocol = SP_PROT_TLS1_3_CLIENT},
        {.what = "untrusted root", .verdict = static_cast<DWORD>(CERT_E_UNTRUSTEDROOT), .code = 12045},
        {.what = "issuer not found", .verdict = static_cast<DWORD>(CERT_E_CHAINING), .code = 12045},
        {.what = "wrong name", .verdict = static_cast<DWORD>(CERT_E_CN_NO_MATCH), .code = 12038},
        {.what = "expired", .verdict = static_cast<DWORD>(CERT_E_EXPIRED), .code = 12037},
        {.what = "revoked", .verdict = static_cast<DWORD>(CRYPT_E_REVOKED), .code = 12157},
        {.what = "no chain", .chain_fails = true, .code = 12157},
        {.what = "no certificate", .certificate_missing = true, .code = 12157},
        {.what = "TLS 1.1", .protocol = SP_PROT_TLS1_1_CLIENT, .code = 12157, .code_ignoring = 12157},
        {.what = "TLS 1.0", .protocol = SP_PROT_TLS1_0_CLIENT, .code = 12157, .code_ignoring = 12157},
        {.what = "handshake refused", .handshake = {SEC_I_CONTINUE_NEEDED, SEC_E_ILLEGAL_MESSAGE}, .code = 12157,
         .code_ignoring = 12157},
        {.what = "asked for a client certificate", .handshake = {SEC_I_INCOMPLETE_CREDENTIALS, SEC_E_OK}},
        {.what = "server hangs up", .code = 12157, .code_ignoring = 12157, .pieces = {"[serv"}},
        // More than any record: refused before it ends, not taken whole.
        {.what = "oversized record", .handshake = {SEC_E_OK}, .code = 12157, .code_ignoring = 12157,
         .pieces = {"[" + std::string(70000, 'x') + "]"}},
    };
    for (const Row& row : rows) {
        for (const bool ignoring : {false, true}) {
            SCOPED_TRACE(std::string(row.what) + (ignoring ? ", ignoring certificate errors" : ""));
            ScriptedSecurity security;
            security.verdict = row.verdict;
            security.protocol = row.protocol;
            security.handshake = row.handshake;
            security.chain_fails = row.chain_fails;
            security.certificate_missing = row.certificate_missing;
            EXPECT_EQ(handshake_code(row.pieces, ignoring), ignoring ? row.code_ignoring : row.code);
            EXPECT_EQ(security.outstanding, 0) << "handles or buffers left unfreed";
            if (!ignoring && row.code == 0) {
                EXPECT_EQ(security.checked_name, L"ftp.example");
                EXPECT_EQ(security.checked_authentication, static_cast<DWORD>(AUTHTYPE_SERVER));
            }
        }
    }
}

TEST(TlsSession, EveryStreamAsksForTheSameSessionWithOneCredentialsHandle)
{
    ScriptedSecurity security;
    security.handshake = {SEC_I_CONTINUE_NEEDED, SEC_E_OK, SEC_I_CONTINUE_NEEDED, SEC_E_OK};
    const TlsSession session(L"ftp.example", false);
    const auto control = session.open(std::make_unique<ScriptedStream>(Pieces{"[s][f]"}), bound);
    const auto data = session.open(std::make_unique<ScriptedStream>(Pieces{"[s][f]"}), bound);
    ASSERT_EQ(security.first_calls.size(), 2u);
    EXPECT_EQ(security.first_calls[0], security.first_calls[1]);
    EXPECT_EQ(security.first_calls[0].second, L"ftp.example");
    EXPECT_EQ(security.credential_versions, std::vector<DWORD>{SCH_CREDENTIALS_VERSION});
    // A platform that predates TLS 1.3's credentials gets the older ones.
    security.refuse_newer_credentials = true;
    EXPECT_EQ(handshake_code({"[s][f]"}, false), 12157) << "no third handshake scripted";
    EXPECT_EQ(security.credential_versions.back(), static_cast<DWORD>(SCHANNEL_CRED_VERSION));
}

TEST(TlsStream, RecordsSplitAndJoinedAndBothFormsOfTheEnd)
{
    struct Row {
        const char* what;
        Pieces pieces;
        std::string bytes;
        LONG code;
        SECURITY_STATUS after_handshake = SEC_E_OK;
    };
    const Row rows[] = {
        {"data behind the handshake, close_notify as on Windows", {"[s][f][abcd]", "[e][!]"}, "abcde", 0},
        {"records split across reads, close_notify as under Wine", {"[s][f", "][ab", "c][", "de]", "[]"}, "abcde", 0},
        {"an empty record before more data ends nothing", {"[s][f]", "[a][][b][]"}, "ab", 0},
        {"cut without close_notify", {"[s][f]", "[ab]"}, "ab", 12030},
        {"a session ticket is taken in", {"[s][f]", "[?][t", "]", "[ab][!]"}, "ab", 0},
        {"renegotiation is refused", {"[s][f]", "[?][hello request]"}, "", 12157, SEC_I_CONTINUE_NEEDED},
        {"a record larger than any", {"[s][f]", "[" + std::string(70000, 'x') + "][!]"}, "", 12157},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ScriptedSecurity security;
        security.handshake = {SEC_I_CONTINUE_NEEDED, SEC_E_OK, row.after_handshake};
        auto stream = TlsSession(L"h", false).open(std::make_unique<ScriptedStream>(row.pieces), bound);
        std::string bytes;
        LONG code = 0;
        try {
            char buffer[3];
            while (const size_t length = stream->receive(buffer, bound))
                bytes.append(buffer, length);
        } catch (const net::Failure& failure) {
            code = failure.code();
        }
        EXPECT_EQ(bytes, row.bytes);
        EXPECT_EQ(code, row.code);
    }
}

TEST(TlsStream, SendsRecordsOfTheNegotiatedSizeAndEndsWithCloseNotify)
{
    ScriptedSecurity security;
    auto inner = std::make_unique<ScriptedStream>(Pieces{"[s][f]"});
    const ScriptedStream& wire = *inner;
    auto stream = TlsSession(L"h", false).open(std::move(inner), bound);
    stream->send(std::string_view("abcdefghijkl"), bound);
    stream->end_sending(bound);
    EXPECT_EQ(wire.sent, "[hello][more][abcde][fghij][kl][bye]");
    EXPECT_EQ(security.control_token, static_cast<DWORD>(SCHANNEL_SHUTDOWN));
    EXPECT_TRUE(wire.ended);
    EXPECT_THROW(stream->send(std::string_view("m"), bound), net::Failure);
}

TEST(TlsLoopback, EchoesByteExactAndEachSideSeesTheOthersCloseNotify)
{
    const auto& certificates = integration::process_certificates();
    const integration::TrustedRoot root(certificates.ca_der());
    const std::string folder = certificates.key().substr(0, certificates.key().rfind('/'));
    const int port = unused_loopback_port();
    run_python_tool("tls_echo_server.py",
                    {std::to_string(port), certificates.cert(), certificates.key(), folder + "/echo-ready",
                     folder + "/echo-result"},
                    folder + "/echo-ready");
    const unsigned char loopback[4] = {127, 0, 0, 1};
    auto tcp = net::TcpStream::connect(net::Endpoint::ipv4(loopback, static_cast<unsigned short>(port)), bound);
    auto stream = TlsSession(L"localhost", false).open(std::move(tcp), bound);

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
    std::ifstream result("Z:" + folder + "/echo-result");
    std::string verdict;
    std::getline(result, verdict);
    EXPECT_EQ(verdict.substr(0, verdict.find(' ')), "close_notify") << verdict;
}

}  // namespace
}  // namespace corvane::tls
