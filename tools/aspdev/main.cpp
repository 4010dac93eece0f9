// aspdev: a development server for classic ASP pages, on 127.0.0.1 only.
//   aspdev --root <folder> --port <n> [--port-file <file>] [--app NAME=VALUE]...
//          [--buffer-limit BYTES]
// Connections are read on threads of their own, so that a silent one holds
// nobody up; requests are answered one at a time.

#include "tools/asp_host/page_state.h"
#include "tools/aspdev/site.h"

#include "frame/error.h"
#include "frame/text.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <atomic>
#include <memory>
#include <mutex>

namespace {

using namespace corvane;
using namespace corvane::aspdev;

constexpr DWORD receive_timeout_ms = 15000;
constexpr DWORD send_timeout_ms = 60000;
// Each connection is read on a thread of its own: past this many at once,
// new ones are closed unread.
constexpr long max_connections = 64;
std::atomic<long> open_connections{0};

struct Options {
    std::wstring root;
    long port = -1;
    std::wstring port_file;
    std::vector<std::pair<std::wstring, std::wstring>> application_values;
    // IIS's AspBufferingLimit.
    size_t buffer_limit = asp_host::default_buffer_limit;
};

[[noreturn]] void usage(const wchar_t* problem)
{
    fwprintf(stderr, L"aspdev: %ls\nusage: aspdev --root <folder> --port <n> [--port-file <file>] [--app NAME=VALUE]... "
             L"[--buffer-limit BYTES]\n",
             problem);
    std::exit(2);
}

Options options_of(int count, wchar_t** arguments)
{
    Options options;
    for (int i = 1; i < count; ++i) {
        const std::wstring_view name = arguments[i];
        if (i + 1 >= count)
            usage(L"an option lacks its value");
        const wchar_t* value = arguments[++i];
        if (name == L"--root") {
            options.root = value;
        } else if (name == L"--port") {
            wchar_t* end = nullptr;
            options.port = std::wcstol(value, &end, 10);
            if (!end || *end || options.port < 0 || options.port > 65535)
                usage(L"the port is not a number from 0 to 65535");
        } else if (name == L"--buffer-limit") {
            wchar_t* end = nullptr;
            const unsigned long long limit = std::wcstoull(value, &end, 10);
            if (!end || *end || !std::iswdigit(value[0]) || limit > (1ULL << 40))
                usage(L"the buffer limit is not a number of bytes");
            options.buffer_limit = static_cast<size_t>(limit);
        } else if (name == L"--port-file") {
            options.port_file = value;
        } else if (name == L"--app") {
            const std::wstring_view pair = value;
            const size_t equals = pair.find(L'=');
            if (equals == std::wstring_view::npos || equals == 0)
                usage(L"--app takes NAME=VALUE");
            options.application_values.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
        } else {
            usage(L"unknown option");
        }
    }
    if (options.root.empty() || options.port < 0)
        usage(L"--root and --port are required");
    const DWORD attributes = GetFileAttributesW(options.root.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        usage(L"the root is not a folder");
    return options;
}

// False when the client is gone.
bool send_all(SOCKET connection, std::string_view bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const int chunk = static_cast<int>(std::min<size_t>(bytes.size() - done, 1 << 20));
        const int sent = send(connection, bytes.data() + done, chunk, 0);
        if (sent <= 0)
            return false;
        done += static_cast<size_t>(sent);
    }
    return true;
}

class SocketLink final : public ClientLink {
public:
    explicit SocketLink(SOCKET connection) : connection_(connection) {}

    void send(std::string_view bytes) override
    {
        if (gone_ || bytes.empty())
            return;
        if (status_.empty() && bytes.rfind("HTTP/1.1 ", 0) == 0)
            status_ = std::string(bytes.substr(9, std::min(bytes.find("\r\n"), size_t{60}) - 9));
        gone_ = !send_all(connection_, bytes);
        if (!gone_)
            sent_ += bytes.size();
    }

    // The request was read whole: anything readable now is the client's
    // close (or a reset), or the start of a request that will not be read.
    bool connected() override
    {
        if (gone_)
            return false;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(connection_, &readable);
        timeval now{};
        if (select(0, &readable, nullptr, nullptr, &now) == 1) {
            char byte = 0;
            if (recv(connection_, &byte, 1, MSG_PEEK) <= 0)
                gone_ = true;
        }
        return !gone_;
    }

    const std::string& status() const { return status_; }
    unsigned long long sent() const { return sent_; }

private:
    SOCKET connection_;
    bool gone_ = false;
    std::string status_;
    unsigned long long sent_ = 0;
};

// Reads one request; nothing when the peer closed or went silent.
std::optional<std::string> read_request(SOCKET connection, const std::function<std::string()>& on_too_large,
                                        std::string& body)
{
    std::string data;
    char buffer[8192];
    size_t head_end = std::string::npos;
    while (head_end == std::string::npos) {
        const int received = recv(connection, buffer, sizeof buffer, 0);
        if (received <= 0)
            return std::nullopt;
        data.append(buffer, static_cast<size_t>(received));
        head_end = data.find("\r\n\r\n");
        if (head_end == std::string::npos && data.size() > max_head_bytes + 4) {
            send_all(connection, on_too_large());
            return std::nullopt;
        }
    }
    body = data.substr(head_end + 4);
    return data.substr(0, head_end);
}

void serve_connection(SOCKET connection, Site& site, std::mutex& one_at_a_time)
{
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&receive_timeout_ms),
               sizeof receive_timeout_ms);
    setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&send_timeout_ms),
               sizeof send_timeout_ms);
    std::string body;
    const std::optional<std::string> head = read_request(
        connection,
        [] { return error_response(431, "Request Header Fields Too Large", L"<p>The header block is over 64 KB.</p>"); },
        body);
    std::string response;
    SocketLink client(connection);
    std::string line = "-";
    if (head) {
        line = head->substr(0, std::min(head->find("\r\n"), size_t{200}));
        auto parsed = parse_request_head(*head);
        if (const auto* refusal = std::get_if<Refusal>(&parsed)) {
            response = error_response(refusal->status, refusal->reason,
                                      L"<p>" + html_encode(from_ansi(refusal->detail)) + L"</p>");
        } else {
            const RequestHead& request = std::get<RequestHead>(parsed);
            char buffer[8192];
            while (body.size() < request.content_length) {
                const int received = recv(connection, buffer, sizeof buffer, 0);
                if (received <= 0)
                    break;
                body.append(buffer, static_cast<size_t>(received));
            }
            if (body.size() < request.content_length) {
                response = error_response(400, "Bad Request", L"<p>The body is shorter than its Content-Length.</p>");
            } else {
                body.resize(request.content_length);
                const std::lock_guard lock(one_at_a_time);
                try {
                    response = site.respond(request, body, client);
                } catch (const ComponentError& error) {
                    response = error_response(500, "Internal Server Error",
                                              L"<p>" + html_encode(error.description()) + L"</p>");
                } catch (const std::exception&) {
                    response = error_response(500, "Internal Server Error", L"<p>The server ran out of memory.</p>");
                }
            }
        }
        client.send(response);
        std::fprintf(stdout, "%s -> %s (%llu bytes)\n", line.c_str(), client.status().c_str(), client.sent());
        std::fflush(stdout);
    }
    shutdown(connection, SD_SEND);
    closesocket(connection);
    --open_connections;
}

struct ConnectionWork {
    SOCKET connection;
    Site& site;
    std::mutex& one_at_a_time;
};

DWORD WINAPI connection_thread(void* parameter)
{
    const std::unique_ptr<ConnectionWork> work(static_cast<ConnectionWork*>(parameter));
    serve_connection(work->connection, work->site, work->one_at_a_time);
    return 0;
}

// A thread of the platform's own, not a detached std::thread: under load,
// with connections opened and dropped by the hundred, this toolchain's
// winpthreads once started such a thread with a null argument and the
// server died.
void start_connection_thread(SOCKET connection, Site& site, std::mutex& one_at_a_time)
{
    auto work = std::make_unique<ConnectionWork>(ConnectionWork{connection, site, one_at_a_time});
    const HANDLE thread = CreateThread(nullptr, 0, &connection_thread, work.get(), 0, nullptr);
    if (!thread) {
        closesocket(connection);
        --open_connections;
        return;
    }
    work.release();
    CloseHandle(thread);
}

}  // namespace

int wmain(int count, wchar_t** arguments)
{
    const Options options = options_of(count, arguments);
    WSADATA winsock{};
    if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0)
        return 1;
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(options.port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listener == INVALID_SOCKET || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, SOMAXCONN) != 0) {
        std::fprintf(stderr, "aspdev: cannot listen on 127.0.0.1:%ld (error %d)\n", options.port, WSAGetLastError());
        return 1;
    }
    int length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const unsigned short port = ntohs(address.sin_port);

    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(initialised))
        return 1;
    Site site(options.root, port, options.application_values, options.buffer_limit);
    std::mutex one_at_a_time;

    std::fprintf(stdout, "aspdev: serving %s at http://127.0.0.1:%u/\n", to_utf8_unescaped(options.root).c_str(), port);
    std::fflush(stdout);
    if (!options.port_file.empty()) {
        const std::string text = std::to_string(port) + "\n";
        const HANDLE file = CreateFileW(options.port_file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        if (file == INVALID_HANDLE_VALUE || !WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
            return 1;
        CloseHandle(file);
    }
    for (;;) {
        const SOCKET connection = accept(listener, nullptr, nullptr);
        if (connection == INVALID_SOCKET)
            continue;
        if (++open_connections > max_connections) {
            --open_connections;
            closesocket(connection);
            continue;
        }
        start_connection_thread(connection, site, one_at_a_time);
    }
}
