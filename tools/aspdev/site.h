#pragma once
// One served folder: static files, ASP pages, sessions and the application.

#include "tools/asp_host/stored_values.h"
#include "tools/aspdev/page_thread.h"
#include "tools/aspdev/request_head.h"

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::aspdev {

// The browser's connection, for a page that sends while it runs.
class ClientLink {
public:
    virtual ~ClientLink() = default;
    // Once a send failed, or the client closed its end, the client counts
    // as gone and later sends are dropped.
    virtual void send(std::string_view bytes) = 0;
    virtual bool connected() = 0;
};

class Site {
public:
    Site(std::wstring root, unsigned short port,
         const std::vector<std::pair<std::wstring, std::wstring>>& application_values, size_t buffer_limit);

    // The response, status line to body, or what is left of it when a page
    // already sent the start through `client`. One call at a time.
    std::string respond(const RequestHead& request, const std::string& body, ClientLink& client);

private:
    struct Session {
        std::shared_ptr<asp_host::SessionData> data;
        std::chrono::steady_clock::time_point last_used;
    };

    std::string serve_file(const RequestHead& request, const std::wstring& local_path);
    std::string run_page(const RequestHead& request, const std::string& body, const std::wstring& address,
                         ClientLink& client);
    std::shared_ptr<asp_host::SessionData> session_of(const RequestHead& request, bool& is_new);
    std::optional<std::wstring> read_page_file(const std::wstring& address) const;

    std::wstring root_;
    unsigned short port_;
    size_t buffer_limit_;
    std::shared_ptr<asp_host::StoredValues> application_;
    std::map<std::wstring, Session> sessions_;
    PageThread page_thread_;
};

// An error page: status line, headers and a short HTML body, every text in
// it encoded.
std::string error_response(int status, const std::string& reason, const std::wstring& detail);

// Text for HTML element content and attribute values.
std::wstring html_encode(std::wstring_view text);

}  // namespace corvane::aspdev
