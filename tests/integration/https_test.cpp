// The HTTP object fetching an https:// URL from our loopback server speaking
// TLS, with a throwaway CA trusted in the Wine prefix only while these run.

#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>

#include "http/http_errors.h"
#include "tests/integration/automation.h"
#include "tests/integration/loopback_servers.h"
#include "tests/integration/test_certificates.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvane::integration {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

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
