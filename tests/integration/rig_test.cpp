// Checks the loopback test servers themselves, through WinInet and Winsock
// directly, so component test failures can be trusted to be component faults.
#include "loopback_servers.h"

#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <utility>

namespace {

namespace fs = std::filesystem;

struct InternetHandleCloser {
    void operator()(HINTERNET h) const { InternetCloseHandle(h); }
};
using InternetHandle = std::unique_ptr<void, InternetHandleCloser>;

InternetHandle open_session() {
    InternetHandle session(InternetOpenA("corvane-rig", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    EXPECT_TRUE(session) << "InternetOpenA error " << GetLastError();
    return session;
}

// Wine does not take "host:port" as a host name, so the port goes separately.
InternetHandle connect_ftp(HINTERNET session, int port, const char* user, const char* password) {
    return InternetHandle(InternetConnectA(session, "127.0.0.1", static_cast<INTERNET_PORT>(port), user,
                                           password, INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0));
}

std::set<std::string> ftp_listing(HINTERNET connection) {
    std::set<std::string> names;
    WIN32_FIND_DATAA found{};
    // A null pattern, because Wine lists nothing for "".
    InternetHandle find(FtpFindFirstFileA(connection, nullptr, &found, INTERNET_FLAG_RELOAD, 0));
    if (!find) {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
        return names;
    }
    do {
        names.insert(found.cFileName);
    } while (InternetFindNextFileA(find.get(), &found));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    return names;
}

bool port_accepts(int port) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<u_short>(port));
    const bool connected = connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    closesocket(s);
    WSACleanup();
    return connected;
}

bool is_empty_directory(const fs::path& dir) {
    return fs::is_directory(dir) && fs::directory_iterator(dir) == fs::directory_iterator();
}

struct HttpResult {
    DWORD status = 0;
    std::string raw_headers;
    std::string body;
};

HttpResult http_get(int port, const char* target) {
    HttpResult result;
    InternetHandle session = open_session();
    InternetHandle connection(InternetConnectA(session.get(), "127.0.0.1", static_cast<INTERNET_PORT>(port),
                                               nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    EXPECT_TRUE(connection) << "InternetConnectA error " << GetLastError();
    if (!connection) return result;
    InternetHandle request(HttpOpenRequestA(
        connection.get(), "GET", target, nullptr, nullptr, nullptr,
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES, 0));
    EXPECT_TRUE(request) << "HttpOpenRequestA error " << GetLastError();
    if (!request) return result;
    const bool sent = HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0);
    EXPECT_TRUE(sent) << "HttpSendRequestA error " << GetLastError();
    if (!sent) return result;

    DWORD size = sizeof result.status;
    HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &result.status, &size,
                   nullptr);
    char headers[8192];
    size = sizeof headers;
    if (HttpQueryInfoA(request.get(), HTTP_QUERY_RAW_HEADERS_CRLF, headers, &size, nullptr))
        result.raw_headers.assign(headers, size);
    char chunk[4096];
    DWORD read = 0;
    while (InternetReadFile(request.get(), chunk, sizeof chunk, &read) && read > 0)
        result.body.append(chunk, read);
    return result;
}

TEST(LoopbackFtp, LogsInAndListsFilesPutIntoRoot) {
    LoopbackServer ftp = LoopbackServer::start_ftp();
    std::ofstream(fs::path(ftp.root_windows()) / "rig-probe.txt") << "probe";
    fs::create_directory(fs::path(ftp.root_windows()) / "sub");

    InternetHandle session = open_session();
    InternetHandle connection = connect_ftp(session.get(), ftp.port(), "tester", "secret");
    ASSERT_TRUE(connection) << "InternetConnectA error " << GetLastError();
    EXPECT_EQ(ftp_listing(connection.get()), (std::set<std::string>{"rig-probe.txt", "sub"}));
}

TEST(LoopbackFtp, RejectsWrongPasswordAndAnonymous) {
    LoopbackServer ftp = LoopbackServer::start_ftp();
    InternetHandle session = open_session();
    EXPECT_FALSE(connect_ftp(session.get(), ftp.port(), "tester", "wrong"));
    EXPECT_FALSE(connect_ftp(session.get(), ftp.port(), nullptr, nullptr));
}

TEST(LoopbackFtp, ConcurrentServersHaveSeparateFreshRoots) {
    LoopbackServer first = LoopbackServer::start_ftp();
    LoopbackServer second = LoopbackServer::start_ftp();
    EXPECT_NE(first.port(), second.port());
    ASSERT_NE(first.root_unix(), second.root_unix());
    EXPECT_TRUE(is_empty_directory(first.root_windows()));
    EXPECT_TRUE(is_empty_directory(second.root_windows()));

    std::ofstream(fs::path(first.root_windows()) / "only-in-first") << "x";
    std::ofstream(fs::path(second.root_windows()) / "only-in-second") << "x";
    InternetHandle session = open_session();
    for (auto [server, expected] : {std::pair{&first, "only-in-first"}, std::pair{&second, "only-in-second"}}) {
        InternetHandle connection = connect_ftp(session.get(), server->port(), "tester", "secret");
        ASSERT_TRUE(connection) << "InternetConnectA error " << GetLastError();
        EXPECT_EQ(ftp_listing(connection.get()), std::set<std::string>{expected});
    }
}

TEST(LoopbackFtp, RootWindowsNamesTheSameDirectory) {
    LoopbackServer ftp = LoopbackServer::start_ftp();
    std::string expected = "Z:" + ftp.root_unix();
    for (char& c : expected)
        if (c == '/') c = '\\';
    EXPECT_EQ(fs::path(ftp.root_windows()).string(), expected);
    EXPECT_EQ(ftp.root_unix().front(), '/');
}

TEST(LoopbackServer, StoppingOneLeavesTheOtherRunningAndRemovesItsRoot) {
    auto first = std::make_unique<LoopbackServer>(LoopbackServer::start_ftp());
    LoopbackServer second = LoopbackServer::start_ftp();
    const int first_port = first->port();
    const fs::path first_root = first->root_windows();
    ASSERT_TRUE(port_accepts(first_port));
    ASSERT_TRUE(fs::is_directory(first_root));

    first.reset();
    EXPECT_FALSE(port_accepts(first_port));
    EXPECT_FALSE(fs::exists(first_root));
    EXPECT_TRUE(port_accepts(second.port()));
}

TEST(LoopbackServer, PortRefusesConnectionsAfterDestruction) {
    for (auto start : {&LoopbackServer::start_ftp, &LoopbackServer::start_http}) {
        int port = 0;
        {
            LoopbackServer server = start();
            port = server.port();
            ASSERT_TRUE(port_accepts(port));
        }
        EXPECT_FALSE(port_accepts(port)) << "port " << port;
    }
}

TEST(LoopbackServer, MovedFromObjectDoesNotStopTheServer) {
    LoopbackServer original = LoopbackServer::start_http();
    const int port = original.port();
    LoopbackServer moved = std::move(original);
    { LoopbackServer sink = std::move(original); }
    EXPECT_TRUE(port_accepts(port));
    EXPECT_EQ(moved.port(), port);
    EXPECT_NE(moved.requests_json(), "");
}

TEST(LoopbackHttp, ServesRoutedRawResponseVerbatimAndRecordsRequest) {
    LoopbackServer http = LoopbackServer::start_http();
    const std::string body = "cookie jar\n";
    http.route("/jar?kind=two",
               "HTTP/1.1 200 OK\r\n"
               "Set-Cookie: first=1; Path=/\r\n"
               "Content-Type: text/plain\r\n"
               "Set-Cookie: second=2; Path=/\r\n"
               "Content-Length: " + std::to_string(body.size()) + "\r\n"
               "\r\n" + body);

    const HttpResult result = http_get(http.port(), "/jar?kind=two");
    EXPECT_EQ(result.status, 200u);
    EXPECT_NE(result.raw_headers.find("Set-Cookie: first=1; Path=/\r\n"), std::string::npos) << result.raw_headers;
    EXPECT_NE(result.raw_headers.find("Set-Cookie: second=2; Path=/\r\n"), std::string::npos) << result.raw_headers;
    EXPECT_EQ(result.body, body);

    const std::string log = http.requests_json();
    EXPECT_NE(log.find(R"("method":"GET","path":"/jar?kind=two")"), std::string::npos) << log;
    EXPECT_NE(log.find(R"(["User-Agent","corvane-rig"])"), std::string::npos) << log;
}

TEST(LoopbackHttp, RoutesMatchPathAndQueryExactly) {
    LoopbackServer http = LoopbackServer::start_http();
    http.route("/exact?q=1", "HTTP/1.1 204 No Content\r\n\r\n");
    EXPECT_EQ(http_get(http.port(), "/exact?q=1").status, 204u);
    EXPECT_EQ(http_get(http.port(), "/exact?q=2").status, 404u);
    EXPECT_EQ(http_get(http.port(), "/exact").status, 404u);
    EXPECT_EQ(http_get(http.port(), "/").status, 200u);
}

TEST(LoopbackHttp, RouteFileServesLargeResponse) {
    LoopbackServer http = LoopbackServer::start_http();
    std::string body(3 * 1024 * 1024, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + (i * 7919 % 26));
    const std::string unix_file = "/tmp/corvane-rig-" + std::to_string(GetCurrentProcessId()) + ".http";
    const fs::path windows_file = "Z:" + unix_file;
    std::ofstream(windows_file, std::ios::binary)
        << "HTTP/1.1 200 OK\r\nContent-Length: " << body.size() << "\r\n\r\n" << body;
    http.route_file("/big", unix_file);

    const HttpResult result = http_get(http.port(), "/big");
    fs::remove(windows_file);
    EXPECT_EQ(result.status, 200u);
    EXPECT_TRUE(result.body == body) << "got " << result.body.size() << " bytes";
}

TEST(LoopbackHttp, BadRouteIsReported) {
    LoopbackServer http = LoopbackServer::start_http();
    EXPECT_THROW(http.route_file("/missing", "/nonexistent/corvane-rig"), std::runtime_error);
    EXPECT_THROW(http.root_unix(), std::logic_error);
}

}  // namespace
