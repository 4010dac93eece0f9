// Loopback FTP and HTTP servers (tools/*.py) for integration tests under Wine.
//
// Each server is a Linux python3 process. Wine gives us no usable handle for
// it, so its lifetime is tied to a control TCP connection this object holds:
// when the connection closes (destructor, or this process dying) it exits.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One request as a loopback HTTP server or proxy recorded it. Text is as it
// came on the wire, one char per byte.
struct RecordedRequest {
    std::string method;
    std::string path;  // as sent: origin form to a server, absolute form to the proxy
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // Proxy only: the status the proxy answered itself (403, 407, ...),
    // 0 when it forwarded the request.
    int answered = 0;

    // The first header of that name (letter case aside), if any.
    const std::string* header(std::string_view name) const;
    size_t count_headers(std::string_view name) const;
};

class LoopbackServer {
public:
    // Throws std::runtime_error if the server cannot be started or reached.
    static LoopbackServer start_ftp();
    // As start_ftp(), and the server records every command line it
    // receives (see received_commands()).
    static LoopbackServer start_ftp_logging_commands();
    static LoopbackServer start_http();
    // As start_http(), over TLS with the given PEM certificate (chain) and
    // key; a plain HTTP request gets a 400 and is neither routed nor recorded.
    static LoopbackServer start_https(const std::string& cert_unix_path, const std::string& key_unix_path);
    // tools/misbehaving_ftp_server.py with one of its scenarios (its
    // docstring tells them); it serves no directory (root_unix() is empty).
    static LoopbackServer start_misbehaving_ftp(const std::string& scenario);
    // tools/http_proxy.py: a forward proxy to 127.0.0.1 only; with a user
    // name, every request needs those Basic proxy credentials (else 407,
    // and the connection stays open for the retry).
    static LoopbackServer start_http_proxy(const std::string& username = {}, const std::string& password = {});

    LoopbackServer(LoopbackServer&& other) noexcept;
    LoopbackServer& operator=(LoopbackServer&& other) noexcept;
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // Stops the server and waits (bounded) until its port refuses connections.
    ~LoopbackServer();

    // FTP, HTTP or proxy port on 127.0.0.1.
    int port() const;

    // FTP only: the directory served to user "tester" (password "secret"),
    // fresh for each server and removed when it stops.
    std::string root_unix() const;
    std::wstring root_windows() const;  // the same directory on drive Z:
    // FTP from start_ftp_logging_commands() only: the command lines received
    // so far, oldest first, each as the server split it off ("PASS ******").
    std::vector<std::string> received_commands() const;

    // HTTP only: a GET of exactly `target` (path and query as sent) is answered
    // with `raw_response` byte for byte, then the connection is closed. A
    // response the client may read to its end should say "Connection: close":
    // otherwise WinInet keeps the connection for the next request, and under
    // Wine a reuse racing the server's close fails that request (12030).
    void route(std::string_view target, std::string_view raw_response);
    // As route(), the raw response read from a Linux file when requested;
    // for bodies too large to send over the control connection.
    void route_file(std::string_view target, std::string_view unix_path);
    // HTTP only: a GET of exactly `target` gets no answer while the client
    // waits; one still waiting after 100 s gets a 200 with body "too late".
    void route_silent(std::string_view target);
    // As route_silent(), but one still waiting after `seconds` gets the
    // "too late" answer then.
    void route_silent(std::string_view target, int seconds);
    // HTTP only: `target` gets `sent` (a head and part of a body, say), then
    // nothing while the client waits; the connection closes after `seconds`.
    void route_stall(std::string_view target, std::string_view sent, int seconds);
    // HTTP only: `target` gets `raw_response` when the request carries
    // "Authorization: Basic " and the base64 of exactly `credentials`
    // ("user:password" as bytes), else a 401 with a Basic challenge.
    void route_auth(std::string_view target, std::string_view credentials, std::string_view raw_response);
    // HTTP or proxy: JSON list of the requests so far, oldest first:
    // [{"method":..., "path":..., "version":..., "headers":[[name, value], ...],
    //   "body_length":..., "body": base64}]; the proxy adds "answered".
    std::string requests_json();
    // The same, parsed.
    std::vector<RecordedRequest> requests();

private:
    enum class Kind { ftp, http, proxy };
    LoopbackServer(Kind kind, int port, std::uintptr_t control, std::string root_unix);
    static LoopbackServer start(Kind kind, std::vector<std::string> arguments);
    std::string command(const std::string& line);
    void require(Kind kind, const char* what) const;
    void stop() noexcept;

    Kind kind_;
    int port_ = 0;
    std::uintptr_t control_;  // SOCKET, kept out of this header to spare users <winsock2.h>
    std::string root_unix_;
    std::string pending_;  // control bytes received past the last reply line
};

// A port on 127.0.0.1 that nothing listened on a moment ago.
int unused_loopback_port();

// A whole HTTP/1.1 response for a route: the status line's text after the
// version, the header lines, and the body with its Content-Length.
std::string http_response(const std::string& status, const std::vector<std::string>& headers,
                          const std::string& body);

// Runs tools/<script_name> with Debian's python3 and waits (bounded) until
// it has written a line to `ready_file_unix`. Throws std::runtime_error.
void run_python_tool(std::string_view script_name, const std::vector<std::string>& arguments,
                     const std::string& ready_file_unix);
