// The GET request: session, connection and request opened, the response's
// header lines added to Headers, the body appended to Content, the handles
// closed again.

#include "http/client.h"

#include "frame/error.h"
#include "frame/error_text.h"
#include "frame/platform.h"
#include "frame/text.h"
#include "frame/timeouts.h"
#include "http/http_errors.h"

#include <algorithm>
#include <cwctype>
#include <vector>

namespace corvane::http {

namespace {

constexpr LPCSTR agent = "Corvane.HTTP";
constexpr DWORD timeout_options[] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                                     INTERNET_OPTION_RECEIVE_TIMEOUT};
constexpr std::wstring_view open_procedure = L"OpenConnection";
constexpr std::wstring_view request_procedure = L"GetString";
constexpr DWORD header_buffer_size = 32768;
// Body reads: as much as the buffer has room for, up to a size the platform
// serves in one call; a full buffer grows by at least the smallest.
constexpr size_t largest_read = 1024 * 1024;
constexpr size_t smallest_growth = 64 * 1024;
// An announced length reserves this much at most: the server's word is no
// reason to set memory aside for a body that may never come.
constexpr unsigned long long largest_reservation = 64 * 1024 * 1024;
// More digits than any real body needs, and fewer than overflow.
constexpr size_t longest_length_text = 18;

// A control character would end the request line and start lines of the
// URL's choosing.
void refuse_control_characters(std::wstring_view text)
{
    if (std::any_of(text.begin(), text.end(), is_control_character))
        raise_with_reason(errors::open_request, L"The URL holds a control character.");
}

// URL text as the request sends it: exactly the characters the script gave,
// in the ANSI code page; one the code page cannot hold would go out as
// another (a best fit or '?').
std::string exact_ansi(std::wstring_view text)
{
    std::optional<std::string> ansi = to_ansi_exact(text);
    if (!ansi)
        raise_with_reason(errors::open_request, L"The URL holds characters the system code page cannot represent.");
    return std::move(*ansi);
}

bool equal_ignoring_case(std::wstring_view left, std::wstring_view right)
{
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(),
                      [](wchar_t a, wchar_t b) { return std::towlower(a) == std::towlower(b); });
}

std::wstring_view trim_blanks(std::wstring_view text)
{
    const size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

std::optional<unsigned long long> parse_length(std::wstring_view text)
{
    if (text.empty() || text.size() > longest_length_text)
        return std::nullopt;
    unsigned long long length = 0;
    for (const wchar_t character : text) {
        if (character < L'0' || character > L'9')
            return std::nullopt;
        length = length * 10 + static_cast<unsigned>(character - L'0');
    }
    return length;
}

// What the header lines promise about the body: a Content-Length holds only
// while no transfer or content coding stands between it and the bytes read,
// and only when every copy of it reads the same.
class LengthPromise {
public:
    void note(std::wstring_view name, std::wstring_view value)
    {
        value = trim_blanks(value);
        if (equal_ignoring_case(name, L"Transfer-Encoding") ||
            (equal_ignoring_case(name, L"Content-Encoding") && !equal_ignoring_case(value, L"identity"))) {
            unusable_ = true;
        } else if (equal_ignoring_case(name, L"Content-Length")) {
            const std::optional<unsigned long long> length = parse_length(value);
            if (!length || (length_ && *length_ != *length))
                unusable_ = true;
            length_ = length;
        }
    }

    std::optional<unsigned long long> length() const { return unusable_ ? std::nullopt : length_; }

private:
    std::optional<unsigned long long> length_;
    bool unusable_ = false;
};

// A body far shorter than the room set aside for it (a length announced and
// never sent, or the last doubling of a growing buffer) gives the rest
// back: the object keeps its bodies as long as it lives.
void release_unused(std::string& body)
{
    if (body.capacity() - body.size() > body.size() / 4 + smallest_growth)
        body.shrink_to_fit();
}

// 1xx, 204 and 304 responses have no body, whatever Content-Length says.
bool has_body(DWORD status)
{
    return status >= 200 && status != HTTP_STATUS_NO_CONTENT && status != HTTP_STATUS_NOT_MODIFIED;
}

}  // namespace

void Client::fetch(const HeaderSink& header_sink)
{
    if (open_)
        return;
    if (trim_spaces(server_name_).empty())
        raise(errors::url_not_set);

    // Checked before anything is opened: a refused URL reaches no server.
    refuse_control_characters(server_name_);
    refuse_control_characters(path_);
    const HostAndPort target = split_port(server_name_);
    const std::string host = exact_ansi(target.host);
    const std::string object_name = exact_ansi(path_);

    // Until the request is sent, a failure takes the handles opened so far
    // with it.
    InternetHandle session(platform().InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session || !set_timeouts(session.get(), timeout_options))
        raise_platform_failure(errors::open_internet, open_procedure);
    const INTERNET_PORT port =
        target.port ? target.port : (secure_ ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT);
    InternetHandle connection(platform().InternetConnectA(session.get(), host.c_str(), port, "", "",
                                                          INTERNET_SERVICE_HTTP, 0, 0));
    // Windows passes the session's timeouts on to its children; Wine keeps
    // only the connect timeout there and takes send and receive from the
    // connection.
    if (!connection || !set_timeouts(connection.get(), timeout_options))
        raise_platform_failure(errors::open_connection, open_procedure);
    // A server-side fetch must see the resource as it is now, and must not
    // leave every body it fetched in the web server's disk cache.
    const DWORD request_flags =
        INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | (secure_ ? INTERNET_FLAG_SECURE : 0);
    InternetHandle request(platform().HttpOpenRequestA(connection.get(), "GET", object_name.c_str(), nullptr,
                                                       nullptr, nullptr, request_flags, 0));
    if (!request)
        raise_platform_failure(errors::open_request, open_procedure);

    session_ = std::move(session);
    connection_ = std::move(connection);
    request_ = std::move(request);
    open_ = true;
    try {
        request_and_read(header_sink);
    } catch (...) {
        // Left open, the object would answer every later fetch with
        // silence; closed, the next one really tries again.
        request_ = InternetHandle();
        connection_ = InternetHandle();
        session_ = InternetHandle();
        open_ = false;
        throw;
    }
    close_handles();
}

void Client::request_and_read(const HeaderSink& header_sink)
{
    if (!platform().HttpSendRequestA(request_.get(), nullptr, 0, nullptr, 0))
        raise_platform_failure(errors::send_request, request_procedure);
    const std::optional<unsigned long long> announced_length = read_headers(header_sink);
    DWORD status = 0;
    DWORD status_length = sizeof status;
    DWORD index = 0;
    if (!platform().HttpQueryInfoA(request_.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                                   &status_length, &index))
        raise_platform_failure(errors::query_status, request_procedure);
    read_body(has_body(status) ? announced_length : std::nullopt);
}

std::optional<unsigned long long> Client::read_headers(const HeaderSink& header_sink)
{
    std::vector<char> block(header_buffer_size + 1, '\0');
    DWORD length = header_buffer_size;
    DWORD index = 0;
    BOOL read = platform().HttpQueryInfoA(request_.get(), HTTP_QUERY_RAW_HEADERS, block.data(), &length, &index);
    // A block larger than the usual buffer: the platform says how much it
    // needs.
    if (!read && platform().GetLastError() == ERROR_INSUFFICIENT_BUFFER && length > header_buffer_size) {
        block.assign(length + 1, '\0');
        index = 0;
        read = platform().HttpQueryInfoA(request_.get(), HTTP_QUERY_RAW_HEADERS, block.data(), &length, &index);
    }
    if (!read)
        raise_platform_failure(errors::query_headers, request_procedure);

    // Lines separated by NULs; the status line and the empty pieces have no
    // colon and are no headers.
    const std::wstring text = from_ansi({block.data(), std::min<size_t>(length, block.size())});
    LengthPromise promise;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'\0', start);
        if (end == std::wstring::npos)
            end = text.size();
        const std::wstring_view line(text.data() + start, end - start);
        if (const size_t colon = line.find(L':'); colon != std::wstring_view::npos) {
            header_sink(std::wstring(line.substr(0, colon)), std::wstring(line.substr(colon + 1)));
            promise.note(line.substr(0, colon), line.substr(colon + 1));
        }
        start = end + 1;
    }
    return promise.length();
}

void Client::read_body(std::optional<unsigned long long> announced_length)
{
    // Read straight into one buffer, sized from the length announced when
    // there is one: one byte more, so that the read that finds the end
    // needs no growth. The bytes are kept as they came and converted only
    // when Content is read, straight into the string it hands out: a
    // multi-byte character may fall across two reads, and text held beside
    // its bytes would double what the body costs.
    std::string& body = bodies_.emplace_back();
    body.reserve(announced_length
                     ? static_cast<size_t>(std::min<unsigned long long>(*announced_length, largest_reservation)) + 1
                     : smallest_growth);
    for (;;) {
        const size_t used = body.size();
        const size_t room = body.capacity() - used;
        const size_t wanted = room > 0 ? std::min(room, largest_read) : smallest_growth;
        body.resize(used + wanted);
        DWORD bytes_read = 0;
        const BOOL read =
            platform().InternetReadFile(request_.get(), body.data() + used, static_cast<DWORD>(wanted), &bytes_read);
        // What arrived before a failure stays.
        body.resize(used + (read ? std::min<size_t>(bytes_read, wanted) : 0));
        if (!read) {
            const LONG code = static_cast<LONG>(platform().GetLastError());
            release_unused(body);
            raise_platform_error(errors::read_body, code, request_procedure);
        }
        if (bytes_read == 0)
            break;
    }
    release_unused(body);
    // The platform ends a body the server cut short with an ordinary empty
    // read; only the length announced beforehand tells the two apart.
    if (announced_length && body.size() < *announced_length)
        raise_with_reason(errors::read_body, early_end_reason(body.size(), *announced_length));
}

Bstr Client::content() const
{
    return bstr_from_ansi(bodies_);
}

void Client::close_handles()
{
    if (!open_)
        return;
    // The first failure is the one reported; the other handles are closed
    // all the same, so that the object is never stuck half open.
    bool failed = false;
    LONG first_code = 0;
    for (InternetHandle* handle : {&request_, &connection_, &session_}) {
        if (handle->close())
            continue;
        if (!failed)
            first_code = static_cast<LONG>(platform().GetLastError());
        failed = true;
        handle->release();
    }
    open_ = false;
    if (failed)
        raise_platform_error(errors::close_connection, first_code, request_procedure);
}

Client::~Client()
{
    try {
        close_handles();
    } catch (...) {
    }
}

}  // namespace corvane::http
