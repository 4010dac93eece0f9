// The HTTP object against our scripted HTTP server on 127.0.0.1, called by
// name as a script calls it.

#include <winsock2.h>
#include <wininet.h>

#include "http/http_errors.h"
#include "tests/integration/automation.h"
#include "tests/integration/loopback_servers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace corvane::integration {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::wstring as_ansi_text(const std::string& bytes)
{
    if (bytes.empty())
        return {};
    const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), length);
    return text;
}

class HttpAgainstServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new LoopbackServer(LoopbackServer::start_http()); }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }

    Automation fetch(const std::string& target)
    {
        Automation http = Automation::create(L"corvane.HTTP");
        http.put(L"URL", url(target));
        http.call(L"OpenConnection");
        return http;
    }

    std::wstring url(const std::string& target) const
    {
        return L"http://127.0.0.1:" + std::to_wstring(server->port()) + std::wstring(target.begin(), target.end());
    }

    static std::vector<std::wstring> header_lines(const Automation& http)
    {
        std::vector<std::wstring> lines;
        for (const Value& entry : Automation(http.get(L"Headers").object()).for_each()) {
            Automation header(entry.object());
            lines.push_back(header.get(L"Name").text() + L":" + header.get(L"Value").text());
        }
        return lines;
    }

    static LoopbackServer* server;
};

LoopbackServer* HttpAgainstServer::server = nullptr;

TEST_F(HttpAgainstServer, HeadersAndBodyOfA200)
{
    server->route("/ok", http_response("200 OK", {"Content-Type: text/html", "X-Note: a: b"}, "<p>hello</p>"));
    Automation http = fetch("/ok");
    EXPECT_EQ(http.get(L"Content").text(), L"<p>hello</p>");
    EXPECT_EQ(http.get(L"ServerName").text(), L"127.0.0.1:" + std::to_wstring(server->port()));
    EXPECT_EQ(http.get(L"Path").text(), L"/ok");
    Automation headers(http.get(L"Headers").object());
    EXPECT_EQ(headers.item(L"content-type").text(), L" text/html");
    EXPECT_EQ(headers.item(1).text(), L" text/html");
    EXPECT_EQ(headers.item(L"X-NOTE").text(), L" a: b");
    EXPECT_EQ(headers.call(L"Count").integer(), static_cast<long long>(header_lines(http).size()));

    const std::string requests = server->requests_json();
    EXPECT_THAT(requests, HasSubstr("\"GET\""));
    EXPECT_THAT(requests, HasSubstr("Corvane.HTTP"));
}

TEST_F(HttpAgainstServer, ErrorStatusIsNoError)
{
    server->route("/gone", http_response("404 Not Found", {}, "no such page"));
    Automation http = fetch("/gone");
    EXPECT_EQ(http.get(L"Content").text(), L"no such page");
}

TEST_F(HttpAgainstServer, EmptyAndChunkedBodies)
{
    server->route("/empty", http_response("204 No Content", {}, ""));
    EXPECT_EQ(fetch("/empty").get(L"Content").text(), L"");

    server->route("/chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
                              "5\r\nhello\r\n7\r\n, world\r\n0\r\n\r\n");
    EXPECT_EQ(fetch("/chunked").get(L"Content").text(), L"hello, world");
}

TEST_F(HttpAgainstServer, LargeBodyArrivesWhole)
{
    std::mt19937 generator(3);
    std::string body(5 * 1024 * 1024, '\0');
    for (char& byte : body)
        byte = static_cast<char>(generator() & 0xFF);
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "corvane-large-response.bin";
    std::ofstream(file, std::ios::binary) << http_response("200 OK", {"Content-Type: application/octet-stream"}, body);
    // The server reads the file by its Linux path.
    const std::string unix_path = "/tmp/corvane-large-response-" + std::to_string(GetCurrentProcessId()) + ".bin";
    std::filesystem::copy_file(file, std::filesystem::path("Z:" + unix_path), std::filesystem::copy_options::overwrite_existing);
    server->route_file("/large", unix_path);

    const std::wstring content = fetch("/large").get(L"Content").text();
    EXPECT_EQ(content.size(), as_ansi_text(body).size());
    EXPECT_TRUE(content == as_ansi_text(body));
    std::filesystem::remove(file);
    std::filesystem::remove(std::filesystem::path("Z:" + unix_path));
}

TEST_F(HttpAgainstServer, EveryFetchIsFreshAndLeavesNothingInTheDiskCache)
{
    // Cacheable for an hour: only the request flags keep the platform from
    // keeping it, and from answering the second fetch out of its cache.
    const std::string target = "/fresh-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
    server->route(target, http_response("200 OK", {"Cache-Control: max-age=3600"}, "first version"));
    EXPECT_EQ(fetch(target).get(L"Content").text(), L"first version");
    server->route(target, http_response("200 OK", {"Cache-Control: max-age=3600"}, "second version"));
    EXPECT_EQ(fetch(target).get(L"Content").text(), L"second version");

    const std::wstring address = url(target);
    DWORD size = 0;
    EXPECT_FALSE(GetUrlCacheEntryInfoW(address.c_str(), nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << "the body was written to the disk cache";
}

TEST_F(HttpAgainstServer, RepeatedNamesAndASecondRequest)
{
    server->route("/cookies", http_response("200 OK", {"Set-Cookie: a=1", "Set-Cookie: b=2"}, "first"));
    server->route("/again", http_response("200 OK", {"Set-Cookie: c=3"}, "second"));
    Automation http = fetch("/cookies");
    const auto first_lines = header_lines(http);
    EXPECT_THAT(first_lines, ::testing::Contains(L"Set-Cookie: a=1"));
    EXPECT_THAT(first_lines, ::testing::Contains(L"Set-Cookie: b=2"));
    Automation headers(http.get(L"Headers").object());
    EXPECT_EQ(headers.item(L"set-cookie").text(), L" a=1");

    http.put(L"URL", url("/again"));
    http.call(L"OpenConnection");
    EXPECT_EQ(http.get(L"Content").text(), L"firstsecond");
    const auto all_lines = header_lines(http);
    EXPECT_EQ(all_lines.size(), first_lines.size() + 3);  // Set-Cookie, Content-Length, Connection
    EXPECT_THAT(all_lines, ::testing::Contains(L"Set-Cookie: c=3"));
    EXPECT_EQ(headers.call(L"Count").integer(), static_cast<long long>(all_lines.size()));
}

TEST_F(HttpAgainstServer, HeaderBlockOverThirtyTwoKilobytes)
{
    std::vector<std::string> filler;
    for (int line = 0; line < 40; ++line)
        filler.push_back("X-Filler-" + std::to_string(line) + ": " + std::string(1000, 'v'));
    server->route("/big-headers", http_response("200 OK", filler, "body"));
    Automation http = fetch("/big-headers");
    EXPECT_EQ(http.get(L"Content").text(), L"body");
    Automation headers(http.get(L"Headers").object());
    EXPECT_EQ(headers.item(L"x-filler-39").text(), L" " + std::wstring(1000, L'v'));
    EXPECT_GE(headers.call(L"Count").integer(), 40);
}

TEST_F(HttpAgainstServer, NothingListeningFailsEveryTime)
{

    Automation http = Automation::create(L"corvane.HTTP");
    http.put(L"URL", L"127.0.0.1:" + std::to_wstring(unused_loopback_port()) + L"/x");
    for (int attempt = 0; attempt < 2; ++attempt) {
        const ScriptError error = error_of([&] { http.call(L"OpenConnection"); });
        EXPECT_EQ(error.number, http::errors::send_request.number) << attempt;
        EXPECT_EQ(error.source, http::errors::source);
        EXPECT_THAT(narrow(error.description),
                    StartsWith("Error opening request received from remote server.GetString error code: 120"));
    }
}

TEST_F(HttpAgainstServer, UrlWithoutServer)
{
    Automation http = Automation::create(L"corvane.HTTP");
    http.put(L"URL", L"/only/a/path");
    const ScriptError error = error_of([&] { http.call(L"OpenConnection"); });
    EXPECT_EQ(error.number, http::errors::url_not_set.number);
    EXPECT_EQ(error.description, L"No URL set.  Please ensure that the URL property is set.");
}

}  // namespace
}  // namespace corvane::integration
