#pragma once
// What one page request holds, shared by all of its page objects: the
// request collections, the response as the client would get it, the call
// log and the failures a test asked for.

#include "frame/com_ptr.h"
#include "frame/win32.h"

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane::asp_host {

bool same_name(std::wstring_view left, std::wstring_view right);

// Text in the ANSI code page, which is what a classic host writes to the
// client and what URL escapes stand for.
std::string ansi_of(std::wstring_view text);
std::wstring text_of_ansi(std::string_view bytes);

// The host's own URL encoding: letters and digits stay, a space becomes
// "+", every other byte becomes %XX.
std::wstring url_encode(std::wstring_view text);
std::wstring url_decode(std::wstring_view text);

// The value of a hexadecimal digit, -1 for any other character.
int hex_digit(char c);

// The names of a site address with "." and ".." resolved; a relative one
// starts from the page's folder. Nothing when ".." climbs above the root.
std::optional<std::vector<std::wstring>> resolve_site_address(std::wstring_view page, std::wstring_view address);

// A site address ("/a/b", or relative to the page's folder) as a path under
// `root`; nothing when it would leave the root or names a drive, a stream
// or a device.
std::optional<std::wstring> map_site_path(std::wstring_view root, std::wstring_view page,
                                          std::wstring_view address);

// One request collection: keys in the order first added, each with its
// values.
class Collection {
public:
    struct Entry {
        std::wstring key;
        std::vector<std::wstring> values;
    };

    void add(std::wstring_view key, std::wstring_view value);
    void replace(std::wstring_view key, std::wstring_view value);
    void parse(std::wstring_view text);

    const Entry* find(std::wstring_view key) const;
    const std::vector<Entry>& entries() const { return entries_; }
    // The pairs URL-encoded, "k=v&k=v2&k2=v3", as the raw query would be.
    std::wstring text() const;

private:
    std::vector<Entry> entries_;
};

// What a page call raises once Response.End has run on a server that stops
// the script there: the host takes it for the page's normal end.
constexpr HRESULT page_ended_error = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x7E01);

// IIS's AspBufferingLimit as it comes.
constexpr size_t default_buffer_limit = 4194304;

struct ResponseCookie {
    std::wstring name;
    std::wstring value;
    std::wstring path = L"/";
    std::wstring domain;
    std::optional<DATE> expires;
    bool secure = false;
};

struct Failure {
    std::wstring call;
    HRESULT number;
    std::wstring description;
};

class PageState {
public:
    Collection query_string;
    Collection form;
    Collection server_variables;
    Collection cookies;
    // The raw request body, for a host that has one.
    std::optional<std::string> request_body;

    // The response. The body is what the client gets, in bytes; the part
    // before `flushed` has left the buffer and no Clear takes it back.
    // With `send_out` set, what leaves the buffer goes there and is no
    // longer held.
    std::string body;
    size_t flushed = 0;
    bool buffer = true;
    // More buffered than this fails the write, as on IIS: a host without
    // the limit lets a page pass here that fails there.
    size_t buffer_limit = default_buffer_limit;
    // The status line and headers are gone (a Flush, or a first write with
    // buffering off): changing them fails from then on.
    bool headers_sent = false;
    std::function<void(std::string_view)> send_out;
    // Whether the visitor is still there: the server's answer, else false
    // once `disconnect_after` body bytes were written.
    std::function<bool()> client_connected;
    std::optional<unsigned long long> disconnect_after;
    bool ended = false;
    std::wstring content_type = L"text/html";
    std::wstring status = L"200 OK";
    std::wstring charset;
    std::wstring cache_control = L"private";
    std::vector<std::wstring> headers;
    std::vector<std::wstring> calls;
    std::vector<ResponseCookie> response_cookies;
    // The page's literal text for WriteBlock, in the bytes the client gets.
    std::vector<std::string> blocks;
    // The folder "/" maps to and the page's own address; without a root,
    // MapPath is refused.
    std::wstring site_root;
    std::wstring script_path;
    ComPtr<IDispatch> session;
    ComPtr<IDispatch> application;
    // A server that runs the page's script stops it at the next page call
    // after End; the test host only drops later writes.
    bool end_stops_script = false;
    // A server calls OnStartPage on what Server.CreateObject makes, with
    // this context, and OnEndPage when the page ends.
    bool start_created_objects = false;
    ComPtr<IDispatch> context;
    std::vector<ComPtr<IDispatch>> started_objects;
    // Read by the server's watchdog while the page runs.
    std::atomic<long> script_timeout{90};
    bool stream_body = false;
    unsigned long long bytes_written = 0;

    // Body bytes as Write and BinaryWrite give them, after End is checked.
    void write_body(std::string_view bytes);
    // Sends the headers and what the buffer holds.
    void flush_body();
    // Raises IIS's "Header Error" once the headers are sent.
    void check_headers_open() const;
    // Raises IIS's "Buffering Off" for Clear and Flush.
    void check_buffering(std::wstring_view member) const;
    bool is_client_connected() const;

    void fail_next(std::wstring call, HRESULT number, std::wstring description);

    // Every call a page object receives goes through here first: a failure
    // asked for with fail_next is raised, with "<object> object" as source.
    void enter(std::wstring_view object, std::wstring_view member);

    // A Response call: logged as `entry`, or as "`entry` failed".
    void enter_response(std::wstring_view member, std::wstring entry);

    // OnEndPage for every object started, then lets go of the page's
    // objects: they hold this state, and it holds them.
    void end_page();

    // QUERY_STRING follows the query string as a host would set it.
    void query_string_changed();

private:
    std::vector<Failure> failures_;
};

}  // namespace corvane::asp_host
