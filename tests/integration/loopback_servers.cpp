#include "loopback_servers.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

#ifndef CORVANE_SOURCE_DIR
#define CORVANE_SOURCE_DIR "/work/main"
#endif

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Debian's interpreter, not whatever python is first on PATH: pyftpdlib
// is installed for this one.
constexpr const char* python_windows = "Z:\\usr\\bin\\python3";
constexpr const char* python_unix = "/usr/bin/python3";
constexpr auto start_timeout = 20s;
constexpr auto stop_timeout = 10s;
constexpr DWORD reply_timeout_ms = 10000;

std::string windows_path(std::string_view unix_path) {
    std::string out = "Z:";
    for (char c : unix_path) out += c == '/' ? '\\' : c;
    return out;
}

std::string wsa_error(const std::string& what) {
    return what + " failed, WSA error " + std::to_string(WSAGetLastError());
}

void ensure_winsock() {
    static const int result = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (result != 0) throw std::runtime_error("WSAStartup failed: " + std::to_string(result));
}

class Socket {
public:
    explicit Socket(SOCKET s = INVALID_SOCKET) : s_(s) {}
    Socket(Socket&& other) noexcept : s_(std::exchange(other.s_, INVALID_SOCKET)) {}
    Socket& operator=(Socket&&) = delete;
    ~Socket() {
        if (s_ != INVALID_SOCKET) closesocket(s_);
    }
    explicit operator bool() const { return s_ != INVALID_SOCKET; }
    SOCKET get() const { return s_; }
    SOCKET release() { return std::exchange(s_, INVALID_SOCKET); }

private:
    SOCKET s_;
};

// An unconnected (false) Socket means the connection was refused or failed;
// `error` then holds the WSA error.
Socket connect_loopback(int port, int& error) {
    Socket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!s) throw std::runtime_error(wsa_error("socket()"));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<u_short>(port));
    if (connect(s.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        error = WSAGetLastError();
        return Socket();
    }
    error = 0;
    return s;
}

std::string base64(std::string_view bytes) {
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        uint32_t v = 0;
        for (size_t k = 0; k < 3; ++k)
            v = v << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k)
            out += k <= n ? alphabet[(v >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

std::string unbase64(std::string_view text) {
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z') v = c - 'A';
        else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
        else if (c >= '0' && c <= '9') v = c - '0' + 52;
        else if (c == '+') v = 62;
        else if (c == '/') v = 63;
        else if (c == '=') break;
        else throw std::runtime_error("bad base64 from test server");
        bits = bits << 6 | static_cast<uint32_t>(v);
        if ((count += 6) >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

// Just enough JSON for the request logs: what Python's json.dumps writes
// (ASCII only, \u escapes below 0x100 since the servers read latin-1).
class JsonReader {
public:
    explicit JsonReader(std::string_view text) : text_(text) {}

    std::vector<RecordedRequest> requests() {
        std::vector<RecordedRequest> result;
        expect('[');
        if (!take(']')) {
            do result.push_back(request());
            while (take(','));
            expect(']');
        }
        skip_space();
        if (at_ != text_.size()) fail("trailing text");
        return result;
    }

private:
    RecordedRequest request() {
        RecordedRequest r;
        expect('{');
        if (take('}')) return r;
        do {
            const std::string key = string();
            expect(':');
            if (key == "method") r.method = string();
            else if (key == "path") r.path = string();
            else if (key == "version") r.version = string();
            else if (key == "body") r.body = unbase64(string());
            else if (key == "body_length") number();
            else if (key == "answered") r.answered = number();
            else if (key == "headers") r.headers = headers();
            else fail("unknown field " + key);
        } while (take(','));
        expect('}');
        return r;
    }

    std::vector<std::pair<std::string, std::string>> headers() {
        std::vector<std::pair<std::string, std::string>> result;
        expect('[');
        if (take(']')) return result;
        do {
            expect('[');
            std::string name = string();
            expect(',');
            std::string value = string();
            expect(']');
            result.emplace_back(std::move(name), std::move(value));
        } while (take(','));
        expect(']');
        return result;
    }

    std::string string() {
        expect('"');
        std::string out;
        for (;;) {
            if (at_ >= text_.size()) fail("unterminated string");
            const char c = text_[at_++];
            if (c == '"') return out;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) fail("unterminated escape");
            const char e = text_[at_++];
            switch (e) {
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'u': {
                if (at_ + 4 > text_.size()) fail("short \\u escape");
                const unsigned long code = std::stoul(std::string(text_.substr(at_, 4)), nullptr, 16);
                at_ += 4;
                if (code > 0xFF) fail("\\u escape above 0xFF");
                out += static_cast<char>(code);
                break;
            }
            default: out += e;
            }
        }
    }

    int number() {
        skip_space();
        const size_t start = at_;
        while (at_ < text_.size() && (std::isdigit(static_cast<unsigned char>(text_[at_])) || text_[at_] == '-')) ++at_;
        if (start == at_) fail("number expected");
        return std::stoi(std::string(text_.substr(start, at_ - start)));
    }

    void skip_space() {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
    }
    bool take(char c) {
        skip_space();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    void expect(char c) {
        if (!take(c)) fail(std::string("'") + c + "' expected");
    }
    [[noreturn]] void fail(const std::string& what) const {
        throw std::runtime_error("request log from test server: " + what + " at " + std::to_string(at_));
    }

    std::string_view text_;
    size_t at_ = 0;
};

bool same_name(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string quote_arg(const std::string& arg) {
    if (arg.find('"') != std::string::npos)
        throw std::runtime_error("unsupported character in argument: " + arg);
    return arg.find_first_of(" \t") == std::string::npos ? arg : '"' + arg + '"';
}

std::string unique_port_file() {
    // Pids alone can repeat across Wine prefixes sharing /tmp.
    std::random_device rd;
    char name[80];
    std::snprintf(name, sizeof name, "/tmp/corvane-%lx-%08x%08x.port",
                  static_cast<unsigned long>(GetCurrentProcessId()), rd(), rd());
    return name;
}

std::string read_line_if_present(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (in) std::getline(in, line);
    return line;
}

// Starts tools/<script_name> under Debian's python3 and returns its command
// line, for messages. Wine gives no way to wait for a Linux child, so the
// caller waits for a file the script writes.
std::string launch_python_tool(std::string_view script_name, const std::vector<std::string>& arguments) {
    const std::string script = std::string(CORVANE_SOURCE_DIR) + "/tools/" + std::string(script_name);
    if (GetFileAttributesA(windows_path(script).c_str()) == INVALID_FILE_ATTRIBUTES)
        throw std::runtime_error("test tool script not found: " + script);
    // -I: the caller's PYTHON* variables must not redirect the interpreter.
    std::string command_line = std::string(python_unix) + " -I " + quote_arg(script);
    for (const std::string& argument : arguments) command_line += " " + quote_arg(argument);
    std::vector<char> mutable_command(command_line.begin(), command_line.end());
    mutable_command.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(python_windows, mutable_command.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &info))
        throw std::runtime_error("cannot start `" + command_line + "`: error " +
                                 std::to_string(GetLastError()));
    // For a Linux child Wine fills PROCESS_INFORMATION with stack leftovers
    // (measured: hProcess 0, hThread 0x2 or a pointer, a random pid), and
    // closing those could close an unrelated handle of ours. Only a handle
    // that really is the reported process is ours to close.
    if (info.hProcess != nullptr && GetProcessId(info.hProcess) == info.dwProcessId) {
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
    }
    return command_line;
}

std::string wait_for_line(const std::string& unix_path, const std::string& command_line) {
    const auto deadline = Clock::now() + start_timeout;
    std::string line;
    while ((line = read_line_if_present(windows_path(unix_path))).empty()) {
        if (Clock::now() > deadline)
            throw std::runtime_error("`" + command_line + "` wrote no " + unix_path +
                                     " within 20 s; see its errors on stderr");
        Sleep(20);
    }
    return line;
}

}  // namespace

const std::string* RecordedRequest::header(std::string_view name) const {
    for (const auto& [n, v] : headers)
        if (same_name(n, name)) return &v;
    return nullptr;
}

size_t RecordedRequest::count_headers(std::string_view name) const {
    return static_cast<size_t>(
        std::count_if(headers.begin(), headers.end(), [&](const auto& h) { return same_name(h.first, name); }));
}

LoopbackServer::LoopbackServer(Kind kind, int port, std::uintptr_t control, std::string root_unix)
    : kind_(kind), port_(port), control_(control), root_unix_(std::move(root_unix)) {}

LoopbackServer::LoopbackServer(LoopbackServer&& other) noexcept
    : kind_(other.kind_),
      port_(other.port_),
      control_(std::exchange(other.control_, INVALID_SOCKET)),
      root_unix_(std::move(other.root_unix_)),
      command_log_(std::move(other.command_log_)),
      pending_(std::move(other.pending_)) {}

LoopbackServer& LoopbackServer::operator=(LoopbackServer&& other) noexcept {
    if (this != &other) {
        stop();
        kind_ = other.kind_;
        port_ = other.port_;
        control_ = std::exchange(other.control_, INVALID_SOCKET);
        root_unix_ = std::move(other.root_unix_);
        command_log_ = std::move(other.command_log_);
        pending_ = std::move(other.pending_);
    }
    return *this;
}

LoopbackServer::~LoopbackServer() { stop(); }

LoopbackServer LoopbackServer::start_ftp() { return start(Kind::ftp, {}); }
LoopbackServer LoopbackServer::start_ftp_logging_commands() {
    LoopbackServer server = start(Kind::ftp, {"--log-commands"});
    server.command_log_ = server.root_unix_ + ".commands";
    return server;
}
LoopbackServer LoopbackServer::start_ftps(bool implicit, const std::string& cert_unix_path,
                                          const std::string& key_unix_path) {
    std::vector<std::string> arguments = {"--cert", cert_unix_path, "--key", key_unix_path};
    if (implicit) arguments.push_back("--implicit");
    return start(Kind::ftp, std::move(arguments), "ftps_server.py");
}
LoopbackServer LoopbackServer::start_http() { return start(Kind::http, {}); }
LoopbackServer LoopbackServer::start_https(const std::string& cert_unix_path,
                                           const std::string& key_unix_path) {
    return start(Kind::http, {"--tls-cert", cert_unix_path, "--tls-key", key_unix_path});
}

std::string http_response(const std::string& status, const std::vector<std::string>& headers,
                          const std::string& body)
{
    std::string text = "HTTP/1.1 " + status + "\r\n";
    for (const std::string& header : headers)
        text += header + "\r\n";
    text += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    return text + body;
}

void run_python_tool(std::string_view script_name, const std::vector<std::string>& arguments,
                     const std::string& ready_file_unix) {
    wait_for_line(ready_file_unix, launch_python_tool(script_name, arguments));
}

LoopbackServer LoopbackServer::start(Kind kind, std::vector<std::string> arguments, const char* script_name) {
    ensure_winsock();
    const std::string script = script_name ? script_name
                               : kind == Kind::ftp ? "ftp_server.py"
                               : kind == Kind::http ? "http_server.py"
                                                    : "http_proxy.py";
    const std::string port_file = unique_port_file();
    arguments.insert(arguments.begin(), {"--port-file", port_file});
    // The control connection, not a process handle, tracks the server.
    const std::string line = wait_for_line(port_file, launch_python_tool(script, arguments));
    DeleteFileA(windows_path(port_file).c_str());

    std::istringstream fields(line);
    int port = 0;
    int control_port = 0;
    std::string root;
    fields >> port >> control_port;
    std::getline(fields >> std::ws, root);
    if (port <= 0 || control_port <= 0 || (kind == Kind::ftp && root.empty()))
        throw std::runtime_error("malformed port file " + port_file + ": " + line);

    int error = 0;
    Socket control = connect_loopback(control_port, error);
    if (!control)
        throw std::runtime_error("cannot connect to control port " + std::to_string(control_port) +
                                 " of " + script + ": WSA error " + std::to_string(error));
    const DWORD timeout = reply_timeout_ms;
    setsockopt(control.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof timeout);
    const BOOL no_delay = TRUE;
    setsockopt(control.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay),
               sizeof no_delay);
    return LoopbackServer(kind, port, control.release(), std::move(root));
}

int LoopbackServer::port() const { return port_; }

std::string LoopbackServer::root_unix() const {
    require(Kind::ftp, "root_unix()");
    return root_unix_;
}

std::wstring LoopbackServer::root_windows() const {
    require(Kind::ftp, "root_windows()");
    const std::string narrow = windows_path(root_unix_);
    const int n = MultiByteToWideChar(CP_UTF8, 0, narrow.data(), static_cast<int>(narrow.size()),
                                      nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, narrow.data(), static_cast<int>(narrow.size()), wide.data(), n);
    return wide;
}

std::vector<std::string> LoopbackServer::received_commands() const {
    require(Kind::ftp, "received_commands()");
    // The server writes each line before it acts on the command, so every
    // command a client has had a reply to is there.
    if (command_log_.empty()) throw std::logic_error("received_commands() of a server that logs none");
    std::ifstream log(windows_path(command_log_), std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    return lines;
}

void LoopbackServer::route(std::string_view target, std::string_view raw_response) {
    require(Kind::http, "route()");
    const std::string reply = command("route " + std::string(target) + " " + base64(raw_response));
    if (reply != "ok") throw std::runtime_error("route " + std::string(target) + ": " + reply);
}

void LoopbackServer::route_file(std::string_view target, std::string_view unix_path) {
    require(Kind::http, "route_file()");
    const std::string reply =
        command("route_file " + std::string(target) + " " + std::string(unix_path));
    if (reply != "ok") throw std::runtime_error("route_file " + std::string(target) + ": " + reply);
}

std::string LoopbackServer::requests_json() {
    require(kind_ == Kind::proxy ? Kind::proxy : Kind::http, "requests_json()");
    return command("requests");
}

std::vector<RecordedRequest> LoopbackServer::requests() { return JsonReader(requests_json()).requests(); }

LoopbackServer LoopbackServer::start_http_proxy(const std::string& username, const std::string& password) {
    if (username.empty()) return start(Kind::proxy, {});
    return start(Kind::proxy, {"--username", username, "--password", password});
}

void LoopbackServer::route_stall(std::string_view target, std::string_view sent, int seconds) {
    require(Kind::http, "route_stall()");
    const std::string reply =
        command("route_stall " + std::string(target) + " " + std::to_string(seconds) + " " + base64(sent));
    if (reply != "ok") throw std::runtime_error("route_stall " + std::string(target) + ": " + reply);
}

void LoopbackServer::route_auth(std::string_view target, std::string_view credentials,
                                std::string_view raw_response) {
    require(Kind::http, "route_auth()");
    const std::string reply = command("route_auth " + std::string(target) + " " + base64(credentials) + " " +
                                      base64(raw_response));
    if (reply != "ok") throw std::runtime_error("route_auth " + std::string(target) + ": " + reply);
}

void LoopbackServer::require(Kind kind, const char* what) const {
    if (kind_ != kind)
        throw std::logic_error(std::string(what) + " needs " +
                               (kind == Kind::ftp    ? "an FTP server"
                                : kind == Kind::http ? "an HTTP server"
                                                     : "the HTTP proxy"));
    if (control_ == INVALID_SOCKET) throw std::logic_error(std::string(what) + " on a moved-from server");
}

std::string LoopbackServer::command(const std::string& line) {
    const SOCKET s = static_cast<SOCKET>(control_);
    const std::string out = line + "\n";
    for (size_t sent = 0; sent < out.size();) {
        const int n = send(s, out.data() + sent, static_cast<int>(out.size() - sent), 0);
        if (n <= 0) throw std::runtime_error(wsa_error("send to test server control"));
        sent += static_cast<size_t>(n);
    }
    size_t end;
    while ((end = pending_.find('\n')) == std::string::npos) {
        char buffer[65536];
        const int n = recv(s, buffer, sizeof buffer, 0);
        if (n == 0) throw std::runtime_error("test server closed its control connection");
        if (n < 0) throw std::runtime_error(wsa_error("reading test server reply"));
        pending_.append(buffer, static_cast<size_t>(n));
    }
    std::string reply = pending_.substr(0, end);
    pending_.erase(0, end + 1);
    return reply;
}

void LoopbackServer::stop() noexcept {
    if (control_ == INVALID_SOCKET) return;
    Socket control(static_cast<SOCKET>(std::exchange(control_, INVALID_SOCKET)));
    const auto deadline = Clock::now() + stop_timeout;

    // The server closes its end only as the last thing before exiting, so its
    // EOF is the nearest we get to waiting for the process.
    shutdown(control.get(), SD_SEND);
    char buffer[256];
    while (Clock::now() < deadline && recv(control.get(), buffer, sizeof buffer, 0) > 0) {
    }

    try {
        for (;;) {
            int error = 0;
            if (!connect_loopback(port_, error)) return;
            if (Clock::now() > deadline) break;
            Sleep(20);
        }
    } catch (const std::exception&) {
    }
    std::fprintf(stderr, "warning: test server on port %d still accepts connections after 10 s\n",
                 port_);
}

int unused_loopback_port()
{
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    closesocket(probe);
    return ntohs(address.sin_port);
}

LoopbackServer LoopbackServer::start_misbehaving_ftp(const std::string& scenario, bool log_commands) {
    ensure_winsock();
    const std::string port_file = unique_port_file();
    std::vector<std::string> arguments = {"--scenario", scenario, "--port-file", port_file};
    const std::string command_log = log_commands ? port_file + ".commands" : std::string();
    if (log_commands) arguments.insert(arguments.end(), {"--log-commands", command_log});
    const std::string line =
        wait_for_line(port_file, launch_python_tool("misbehaving_ftp_server.py", arguments));
    DeleteFileA(windows_path(port_file).c_str());
    std::istringstream fields(line);
    int port = 0;
    int control_port = 0;
    fields >> port >> control_port;
    if (port <= 0 || control_port <= 0)
        throw std::runtime_error("malformed port file " + port_file + ": " + line);
    int error = 0;
    Socket control = connect_loopback(control_port, error);
    if (!control)
        throw std::runtime_error("cannot connect to control port " + std::to_string(control_port) +
                                 " of misbehaving_ftp_server.py: WSA error " + std::to_string(error));
    const DWORD timeout = reply_timeout_ms;
    setsockopt(control.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof timeout);
    LoopbackServer server(Kind::ftp, port, control.release(), std::string());
    server.command_log_ = command_log;
    return server;
}

void LoopbackServer::route_silent(std::string_view target) {
    require(Kind::http, "route_silent()");
    const std::string reply = command("route_silent " + std::string(target));
    if (reply != "ok") throw std::runtime_error("route_silent " + std::string(target) + ": " + reply);
}

void LoopbackServer::route_silent(std::string_view target, int seconds) {
    require(Kind::http, "route_silent()");
    const std::string reply = command("route_silent " + std::string(target) + " " + std::to_string(seconds));
    if (reply != "ok") throw std::runtime_error("route_silent " + std::string(target) + ": " + reply);
}
