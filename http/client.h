#pragma once
// Fetches one URL with a GET request: the URL split into server name and
// path, the response's header lines handed to the caller as they are read,
// the body appended to the content. Every operation raises the HTTP class's
// own errors (http/http_errors.h).

#include "frame/com_ptr.h"
#include "frame/handles.h"
#include "frame/win32.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::http {

class Client {
public:
    // Told each header line of a response: name and value as they came.
    using HeaderSink = std::function<void(std::wstring name, std::wstring value)>;

    Client() = default;
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    // Nobody is left to hear about a failed close.
    ~Client();

    // Spaces around the URL are ignored, and so is a URL of nothing else.
    void set_url(std::wstring_view url);
    const std::wstring& server_name() const { return server_name_; }
    const std::wstring& path() const { return path_; }
    // Every body received so far, one after another, each converted from
    // the system code page on its own.
    Bstr content() const;

    // Does nothing while a request is open. The handles are closed again
    // when it returns, and when it fails.
    void fetch(const HeaderSink& header_sink);

private:
    void request_and_read(const HeaderSink& header_sink);
    std::optional<unsigned long long> read_headers(const HeaderSink& header_sink);
    void read_body(std::optional<unsigned long long> announced_length);
    void close_handles();

    std::wstring server_name_;
    std::wstring path_;
    // As they came, converted only when asked for.
    std::vector<std::string> bodies_;
    bool open_ = false;
    // How the URL asked to be fetched.
    bool secure_ = false;
    InternetHandle session_;
    InternetHandle connection_;
    InternetHandle request_;
};

// Where a server name says to connect: the host alone and the port, when
// one is written after the host ("server1:8080", "[::1]:8080").
struct HostAndPort {
    std::wstring host;
    INTERNET_PORT port = 0;  // 0: none written
};
HostAndPort split_port(const std::wstring& server_name);

}  // namespace corvane::http
