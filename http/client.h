#pragma once
// Fetches one URL: the URL split into server name and path, the request
// sent as the settings say (method, body, headers, credentials, proxy,
// timeouts, redirects, certificate checks), the response's header lines
// handed to the caller as they are read, the body appended to the content
// or streamed to a file. Every operation raises the HTTP class's own errors
// (http/http_errors.h).

#include "frame/com_ptr.h"
#include "wininet/handles.h"
#include "wininet/wininet.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane::http {

// What a script sets before a request. A new object, and Reset, start from
// these defaults; with none of them changed a request goes on the wire
// exactly as a plain GET always has.
struct RequestSettings {
    std::wstring method = L"GET";
    // Text is sent in the charset a Content-Type header names (UTF-8 when
    // none); bytes as they are. Neither: no body.
    std::optional<std::wstring> body_text;
    std::optional<std::string> body_bytes;
    std::vector<std::pair<std::wstring, std::wstring>> headers;
    unsigned long timeout_seconds = 60;
    bool follow_redirects = true;
    std::wstring username;
    std::wstring password;
    std::wstring proxy;
    std::wstring proxy_username;
    std::wstring proxy_password;
    bool ignore_certificate_errors = false;
    // Empty: the system code page; "auto": each body's own declared
    // charset, UTF-8 when it names none; otherwise a charset name.
    std::wstring charset;
    // The most bytes a body kept in memory may have; 0: no limit but
    // memory. A body streamed to a file has none.
    unsigned long max_response_size = 0;
};

struct Response;

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

    // Setters check what they can on their own and raise invalid_setting;
    // what depends on several settings is checked before a request is sent.
    const RequestSettings& settings() const { return settings_; }
    void set_method(std::wstring_view method);
    void set_body_text(std::wstring text);
    void set_body_bytes(std::string bytes);
    void clear_body();
    // Replaces a header of the same name (letter case aside).
    void set_request_header(std::wstring_view name, std::wstring_view value);
    void clear_request_headers();
    void set_timeout_seconds(long seconds);
    void set_follow_redirects(bool follow) { settings_.follow_redirects = follow; }
    void set_username(std::wstring_view username);
    void set_password(std::wstring_view password);
    void set_proxy(std::wstring_view proxy);
    void set_proxy_username(std::wstring_view username);
    void set_proxy_password(std::wstring_view password);
    void set_ignore_certificate_errors(bool ignore) { settings_.ignore_certificate_errors = ignore; }
    void set_charset(std::wstring_view charset);
    void set_max_response_size(long bytes);

    // The last response's status line; 0 and empty before any.
    long status_code() const { return status_code_; }
    const std::wstring& status_text() const { return status_text_; }
    // The URL the last request ended at, after any redirects; empty before.
    const std::wstring& final_url() const { return final_url_; }

    // Every body received so far, one after another, each converted on its
    // own as Charset says.
    Bstr content() const;
    // The last body's bytes as they came; empty before any.
    const std::string& response_body() const;

    // Does nothing while a request is open. The handles are closed again
    // when it returns, and when it fails.
    void fetch(const HeaderSink& header_sink);
    // As fetch, the body written to the file at `path` instead of kept: an
    // existing file is replaced only once the whole body has arrived.
    void fetch_to_file(const HeaderSink& header_sink, std::wstring_view path);

    // Back to a new object's state: URL, settings, content, status.
    void reset();

private:
    struct Body {
        std::string bytes;
        // The charset the response's Content-Type named, as written.
        std::wstring declared_charset;
    };
    class Exchange;
    // Told the final response, to read its body.
    using BodyReader = std::function<void(Exchange& exchange, const Response& response)>;

    void run(const HeaderSink& header_sink, const BodyReader& read_body);
    void read_kept_body(Exchange& exchange, const Response& response);
    void close_handles();

    std::wstring server_name_;
    std::wstring path_;
    // How the URL asked to be fetched.
    bool secure_ = false;
    RequestSettings settings_;
    long status_code_ = 0;
    std::wstring status_text_;
    std::wstring final_url_;
    // As they came, converted only when asked for.
    std::vector<Body> bodies_;
    // Whether the last request's body is the last of bodies_ (not saved to
    // a file instead).
    bool last_body_kept_ = false;
    bool open_ = false;
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
