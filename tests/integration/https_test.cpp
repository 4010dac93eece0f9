// The HTTP object fetching an https:// URL from our loopback server speaking
// TLS, with a throwaway CA trusted in the Wine prefix only while these run.

#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>

#include "http/http_errors.h"
#include "tests/integration/automation.h"
#include "tests/integration/loopback_servers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace corvane::integration {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

std::filesystem::path on_drive_z(const std::string& unix_path)
{
    return std::filesystem::path("Z:" + unix_path);
}

// A fresh /tmp folder holding ca.der, server.pem and server.key.
class TestCertificates {
public:
    TestCertificates()
    {
        std::random_device random;
        folder_ = "/tmp/corvane-tls-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(random()) +
                  std::to_string(random());
        run_python_tool("make_test_certificates.py", {folder_, "--hours", "2"}, folder_ + "/ready");
        std::ifstream in(on_drive_z(folder_ + "/ca.der"), std::ios::binary);
        ca_der_.assign(std::istreambuf_iterator<char>(in), {});
        if (ca_der_.empty())
            throw std::runtime_error("no CA certificate in " + folder_);
    }
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;
    ~TestCertificates()
    {
        std::error_code ignored;
        std::filesystem::remove_all(on_drive_z(folder_), ignored);
    }

    std::string cert() const { return folder_ + "/server.pem"; }
    std::string key() const { return folder_ + "/server.key"; }
    const std::string& ca_der() const { return ca_der_; }

private:
    std::string folder_;
    std::string ca_der_;
};

struct StoreCloser {
    void operator()(void* store) const { CertCloseStore(store, 0); }
};
using Store = std::unique_ptr<void, StoreCloser>;

Store open_machine_root_store()
{
    Store store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT"));
    if (!store)
        throw std::runtime_error("cannot open the LocalMachine ROOT store: error " + std::to_string(GetLastError()));
    return store;
}

void commit(const Store& store)
{
    // Saved, not just cached in this process: the platform may check the
    // chain through a store of its own.
    if (!CertControlStore(store.get(), 0, CERT_STORE_CTRL_COMMIT, nullptr))
        throw std::runtime_error("cannot commit the ROOT store: error " + std::to_string(GetLastError()));
}

// The CA trusted by the whole prefix for this object's lifetime; the prefix
// is left as found.
class TrustedRoot {
public:
    explicit TrustedRoot(const std::string& der)
    {
        const Store store = open_machine_root_store();
        if (!CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING,
                                              reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()),
                                              CERT_STORE_ADD_NEW, &added_))
            throw std::runtime_error("cannot add the test CA to the ROOT store: error " +
                                     std::to_string(GetLastError()));
        commit(store);
    }
    TrustedRoot(const TrustedRoot&) = delete;
    TrustedRoot& operator=(const TrustedRoot&) = delete;
    ~TrustedRoot()
    {
        try {
            const Store store = open_machine_root_store();
            if (PCCERT_CONTEXT found =
                    CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, added_, nullptr))
                CertDeleteCertificateFromStore(found);
            commit(store);
        } catch (const std::exception& error) {
            ADD_FAILURE() << "test CA left in the prefix: " << error.what();
        }
        CertFreeCertificateContext(added_);
    }

private:
    PCCERT_CONTEXT added_ = nullptr;
};

bool machine_root_store_holds(const std::string& der)
{
    const Store store = open_machine_root_store();
    PCCERT_CONTEXT wanted = CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                         static_cast<DWORD>(der.size()));
    PCCERT_CONTEXT found = CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted, nullptr);
    CertFreeCertificateContext(wanted);
    CertFreeCertificateContext(found);
    return found != nullptr;
}

size_t request_count(LoopbackServer& server)
{
    const std::string log = server.requests_json();
    size_t count = 0;
    for (size_t at = log.find("\"method\":"); at != std::string::npos; at = log.find("\"method\":", at + 1))
        ++count;
    return count;
}

std::string response(const std::string& body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nX-Channel: tls\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

Automation fetch(const std::wstring& url)
{
    Automation http = Automation::create(L"corvane.HTTP");
    http.put(L"URL", url);
    http.call(L"OpenConnection");
    return http;
}

std::wstring url(const std::wstring& scheme, const std::wstring& host, const LoopbackServer& server)
{
    return scheme + L"://" + host + L":" + std::to_wstring(server.port()) + L"/secure";
}

// Wine's chain engine reads the ROOT store at its first use in a process
// only: a CA added later is never trusted, one removed stays trusted. So the
// CA is trusted before the first check, and is the same one on a repeated run.
const TestCertificates& process_certificates()
{
    static const TestCertificates certificates;
    return certificates;
}

class HttpsAgainstServer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        try {
            certificates = &process_certificates();
            trust = new TrustedRoot(certificates->ca_der());
            server = new LoopbackServer(LoopbackServer::start_https(certificates->cert(), certificates->key()));
        } catch (const std::exception& error) {
            setup_error = error.what();
        }
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
        delete trust;
        trust = nullptr;
        if (certificates && machine_root_store_holds(certificates->ca_der()))
            ADD_FAILURE() << "the test CA is still in the prefix's ROOT store";
        certificates = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(server) << setup_error; }

    static std::vector<std::wstring> header_lines(const Automation& http)
    {
        std::vector<std::wstring> lines;
        for (const Value& entry : Automation(http.get(L"Headers").object()).for_each()) {
            Automation header(entry.object());
            lines.push_back(header.get(L"Name").text() + L":" + header.get(L"Value").text());
        }
        return lines;
    }

    static const TestCertificates* certificates;
    static TrustedRoot* trust;
    static LoopbackServer* server;
    static std::string setup_error;
};

const TestCertificates* HttpsAgainstServer::certificates = nullptr;
TrustedRoot* HttpsAgainstServer::trust = nullptr;
LoopbackServer* HttpsAgainstServer::server = nullptr;
std::string HttpsAgainstServer::setup_error;

TEST_F(HttpsAgainstServer, FetchesHttpsUrlOverTls)
{
    ASSERT_TRUE(machine_root_store_holds(certificates->ca_der()));
    const std::string body = "sealed " + std::to_string(GetTickCount());
    server->route("/secure", response(body));

    // Only a TLS connection reaches the routes: see the plain HTTP test below.
    Automation http = fetch(url(L"https", L"localhost", *server));
    EXPECT_EQ(http.get(L"Content").text(), std::wstring(body.begin(), body.end()));
    EXPECT_EQ(http.get(L"ServerName").text(), L"localhost:" + std::to_wstring(server->port()));
    const auto lines = header_lines(http);
    EXPECT_THAT(lines, Contains(L"Content-Type: text/plain"));
    EXPECT_THAT(lines, Contains(L"X-Channel: tls"));
    EXPECT_THAT(lines, Contains(L"Content-Length: " + std::to_wstring(body.size())));
    EXPECT_THAT(server->requests_json(), HasSubstr(R"("method":"GET","path":"/secure")"));
}

TEST_F(HttpsAgainstServer, PlainHttpToTheTlsPortIsNotServed)
{
    server->route("/secure", response("plain"));
    const size_t before = request_count(*server);

    // The server's refusal is a 400, which is no error to a script.
    Automation http = fetch(url(L"http", L"localhost", *server));
    EXPECT_EQ(http.get(L"Content").text(), L"plain HTTP sent to the TLS port\n");
    EXPECT_EQ(request_count(*server), before);
}

TEST_F(HttpsAgainstServer, CertificateForAnotherNameIsRefused)
{
    server->route("/secure", response("wrong name"));
    const size_t before = request_count(*server);

    // The certificate names localhost, not the address.
    const ScriptError error = error_of([] { fetch(url(L"https", L"127.0.0.1", *server)); });
    EXPECT_EQ(error.number, http::errors::send_request.number);
    EXPECT_THAT(narrow(error.description), HasSubstr("error code: 12038 "));  // ERROR_INTERNET_SEC_CERT_CN_INVALID
    EXPECT_EQ(request_count(*server), before);
}

TEST_F(HttpsAgainstServer, CertificateFromAnUntrustedCaIsRefused)
{
    const TestCertificates strangers;
    LoopbackServer stranger = LoopbackServer::start_https(strangers.cert(), strangers.key());
    stranger.route("/secure", response("untrusted"));

    const ScriptError error = error_of([&] { fetch(url(L"https", L"localhost", stranger)); });
    EXPECT_EQ(error.number, http::errors::send_request.number);
    EXPECT_THAT(narrow(error.description), HasSubstr("error code: 12045 "));  // ERROR_INTERNET_INVALID_CA
    EXPECT_EQ(request_count(stranger), 0u);
}

}  // namespace
}  // namespace corvane::integration
