// Servers that misbehave on purpose: silent ones, transfers cut short,
// hostile URLs and replies that must not lose or borrow their reason.

#include <winsock2.h>

#include "ftp/ftp_errors.h"
#include "http/http_errors.h"
#include "tests/integration/automation.h"
#include "tests/integration/loopback_servers.h"
#include "tools/asp_host/test_page.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

namespace corvane::integration {
namespace {

using ::testing::AnyOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

Value object_value(IDispatch* object)
{
    Value value;
    V_VT(value.get()) = VT_DISPATCH;
    V_DISPATCH(value.get()) = object;
    object->AddRef();
    return value;
}

Automation ftp_for(const LoopbackServer& server, bool passive)
{
    Automation ftp = Automation::create(L"corvane.FTP");
    ftp.put(L"URL", L"127.0.0.1");
    ftp.put(L"Port", server.port());
    ftp.put(L"Username", L"tester");
    ftp.put(L"Password", L"secret");
    ftp.put(L"Passive", passive);
    return ftp;
}

std::string response(const std::string& status, const std::string& headers, const std::string& body)
{
    return "HTTP/1.1 " + status + "\r\n" + headers + "Connection: close\r\n\r\n" + body;
}

// The data connection or the control connection drops in the middle: what
// arrived must not pass for the whole.
TEST(FtpAgainstMisbehavingServer, TransferCutShortIsAReadError)
{
    struct Row {
        const char* name;
        const char* scenario;
        bool passive;
        std::function<void(Automation&, IAspTestPage*)> call;
        HRESULT number;
        const wchar_t* description;
        size_t body_bytes;  // what the page wrote before the error
    };
    const std::vector<Row> rows = {
        {"Files, active", "drop-listing", false, [](Automation& ftp, IAspTestPage*) { ftp.call(L"Files"); },
         ftp::errors::listing.number,
         L"Error retrieving directory listing. The transfer ended without the server's final reply.", 0},
        {"GetDirectoryListing, passive", "drop-listing", true,
         [](Automation& ftp, IAspTestPage*) { ftp.call(L"GetDirectoryListing", {15}); },
         ftp::errors::listing.number,
         L"Error retrieving directory listing. The transfer ended without the server's final reply.", 0},
        {"DownloadFileToClient, passive", "drop-file", true,
         [](Automation& ftp, IAspTestPage*) { ftp.call(L"DownloadFileToClient", {L"/pub/big.bin"}); },
         ftp::errors::read_file.number,
         L"Error reading file from the remote server. The transfer ended early: 1000 of 100000 bytes arrived.", 1000},
        {"DownloadFileToClient, active", "drop-file", false,
         [](Automation& ftp, IAspTestPage*) { ftp.call(L"DownloadFileToClient", {L"big.bin"}); },
         ftp::errors::read_file.number,
         L"Error reading file from the remote server. The transfer ended early: 1000 of 100000 bytes arrived.", 1000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        LoopbackServer server = LoopbackServer::start_misbehaving_ftp(row.scenario);
        ComPtr<IAspTestPage> page = asp_host::new_page();
        Automation ftp = ftp_for(server, row.passive);
        ftp.call(L"OnStartPage", {object_value(asp_host::context_of(page.get()).get())});
        ftp.put(L"TransferType", 2);  // binary: the bytes as the server holds them
        ftp.call(L"OpenConnection");

        const ScriptError error = error_of([&] { row.call(ftp, page.get()); });
        EXPECT_EQ(error.number, row.number);
        EXPECT_EQ(error.source, ftp::errors::source);
        EXPECT_EQ(error.description, row.description);
        EXPECT_EQ(asp_host::body_bytes_of(page.get()).size(), row.body_bytes);
        if (row.body_bytes > 0) {
            // The browser learns the length beforehand and sees the cut too.
            EXPECT_THAT(asp_host::headers_of(page.get()), ::testing::Contains(L"Content-Length: 100000"));
        }
    }
}

// A failure is explained by the reply it brought, never by an older one, and
// a reply the platform has no words for is not lost.
TEST(FtpAgainstMisbehavingServer, ErrorTextKeepsItsOwnReason)
{
    // Per process: the FTP suites may run on both engines at once.
    const std::filesystem::path local =
        std::filesystem::temp_directory_path() / ("corvane-faults-get-" + std::to_string(GetCurrentProcessId()) + ".bin");
    struct Row {
        const char* scenario;
        std::function<void(const LoopbackServer&)> call;
        HRESULT number;
        std::function<void(const std::string&)> check;
    };
    const std::vector<Row> rows = {
        {"greeting-421", [](const LoopbackServer& server) { ftp_for(server, false).call(L"OpenConnection"); },
         ftp::errors::open_connection.number,
         [](const std::string& description) {
             EXPECT_THAT(description, StartsWith("Error opening FTP connection."));
             EXPECT_THAT(description, HasSubstr("421 Service not available, closing control connection."));
         }},
        // The PASV reply came before the transfer that timed out: it explains
        // nothing (the platform gives up on the silence by itself, in Wine
        // after 30 s; the component's own engine after the Timeout).
        {"pasv-no-data",
         [&](const LoopbackServer& server) {
             Automation ftp = ftp_for(server, true);
             if (ftp_engine_of_run() == 2)
                 ftp.put(L"Timeout", 2);
             ftp.call(L"OpenConnection");
             ftp.call(L"GetFile", {L"/pub/a.bin", local.wstring(), true});
         },
         ftp::errors::get_file.number,
         [](const std::string& description) {
             if (ftp_engine_of_run() == 2)
                 EXPECT_EQ(description,
                           "Error getting file from the remote server. Timed out: the server sent nothing for 2 seconds.");
             else
                 EXPECT_THAT(description, StartsWith("Error getting file from the remote server.GetFile error code: "));
             EXPECT_THAT(description, Not(HasSubstr("227")));
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.scenario);
        LoopbackServer server = LoopbackServer::start_misbehaving_ftp(row.scenario);
        const ScriptError error = error_of([&] { row.call(server); });
        EXPECT_EQ(error.number, row.number);
        row.check(narrow(error.description));
    }
    std::error_code ignored;
    std::filesystem::remove(local, ignored);
}

class HttpAgainstMisbehavingServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new LoopbackServer(LoopbackServer::start_http()); }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }

    static std::wstring url(const std::wstring& target)
    {
        return L"http://127.0.0.1:" + std::to_wstring(server->port()) + target;
    }

    static LoopbackServer* server;
};

LoopbackServer* HttpAgainstMisbehavingServer::server = nullptr;

// The one real timeout of the HTTP client: a server that accepts and never
// answers ends the request (after the 60 s default, well before the server
// answers "too late") as the send's failure.
TEST_F(HttpAgainstMisbehavingServer, SilentServerTimesOutAndTheObjectWorksAgain)
{
    server->route_silent("/hang");
    server->route("/fine", response("200 OK", "Content-Length: 4\r\n", "fine"));
    Automation http = Automation::create(L"corvane.HTTP");
    http.put(L"URL", url(L"/hang"));
    const ScriptError error = error_of([&] { http.call(L"OpenConnection"); });
    EXPECT_EQ(error.number, http::errors::send_request.number);
    // Windows reports the timeout as 12002; Wine's receive fails as 12030.
    EXPECT_THAT(narrow(error.description),
                AnyOf(StartsWith("Error opening request received from remote server.GetString error code: 12002 "),
                      StartsWith("Error opening request received from remote server.GetString error code: 12030 ")));
    EXPECT_EQ(http.get(L"Content").text(), L"");

    http.put(L"URL", url(L"/fine"));
    http.call(L"OpenConnection");
    EXPECT_EQ(http.get(L"Content").text(), L"fine");
}

TEST_F(HttpAgainstMisbehavingServer, BodyShorterThanItsLengthIsAReadError)
{
    const std::string thousand(1000, 'b');
    struct Row {
        const char* target;
        std::string raw;
        HRESULT number;
        const wchar_t* description;
        size_t content_size;
    };
    const std::vector<Row> rows = {
        {"/short", response("200 OK", "Content-Length: 100000\r\n", thousand), http::errors::read_body.number,
         L"Error getting information out of request. The transfer ended early: 1000 of 100000 bytes arrived.", 1000},
        {"/whole", response("200 OK", "Content-Length: 1000\r\n", thousand), 0, L"", 1000},
        {"/chunked", response("200 OK", "Transfer-Encoding: chunked\r\n", "5\r\nhello\r\n0\r\n\r\n"), 0, L"", 5},
        {"/no-content", response("204 No Content", "Content-Length: 100\r\n", ""), 0, L"", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.target);
        server->route(row.target, row.raw);
        Automation http = Automation::create(L"corvane.HTTP");
        http.put(L"URL", url(std::wstring(row.target, row.target + std::strlen(row.target))));
        const ScriptError error = error_of([&] { http.call(L"OpenConnection"); });
        EXPECT_EQ(error.number, row.number);
        EXPECT_EQ(error.description, row.description);
        EXPECT_EQ(http.get(L"Content").text().size(), row.content_size);
    }
}

// Nothing in a URL may add lines to the request or go out as something else;
// the refusal comes before any connection.
TEST_F(HttpAgainstMisbehavingServer, UrlThatWouldNotGoOutAsWrittenIsRefused)
{
    const std::wstring control = L"Error opening request to remote server. The URL holds a control character.";
    const std::wstring foreign =
        L"Error opening request to remote server. The URL holds characters the system code page cannot represent.";
    struct Row {
        std::wstring target;
        std::wstring description;
    };
    const std::vector<Row> rows = {
        {L"/a\r\nX-Injected: 1", control},
        {L"/a\rb", control},
        {std::wstring(L"/a\0b", 4), control},
        {L"/\x0395\x03bb\x03bb\x03b7\x03bd\x03b9\x03ba\x03ac", foreign},
    };
    const std::string before = server->requests_json();
    for (const Row& row : rows) {
        SCOPED_TRACE(narrow(row.target));
        Automation http = Automation::create(L"corvane.HTTP");
        http.put(L"URL", url(row.target));
        const ScriptError error = error_of([&] { http.call(L"OpenConnection"); });
        EXPECT_EQ(error.number, http::errors::open_request.number);
        EXPECT_EQ(error.source, http::errors::source);
        EXPECT_EQ(error.description, row.description);
    }
    EXPECT_EQ(server->requests_json(), before);

    // What the code page holds still goes out.
    server->route("/caf\xc3\xa9", response("200 OK", "Content-Length: 2\r\n", "ok"));
    Automation http = Automation::create(L"corvane.HTTP");
    http.put(L"URL", url(L"/caf\x00e9"));
    http.call(L"OpenConnection");
    EXPECT_EQ(http.get(L"Content").text(), L"ok");
}

}  // namespace
}  // namespace corvane::integration
