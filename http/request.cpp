// The GET request: session, connection and request opened, the response's
// header lines added to Headers, the body appended to Content, the handles
// closed again.

#include "http/http.h"

#include "frame/error_text.h"
#include "frame/platform.h"
#include "frame/text.h"
#include "frame/timeouts.h"

#include <algorithm>
#include <cwctype>
#include <vector>

namespace corvane {

namespace {

constexpr LPCSTR http_agent = "Corvane.HTTP";
constexpr HRESULT connection_error = static_cast<HRESULT>(0x800403e8);
constexpr HRESULT send_error = static_cast<HRESULT>(0x800403e9);
constexpr HRESULT query_error = static_cast<HRESULT>(0x800403ea);
constexpr HRESULT read_error = static_cast<HRESULT>(0x800403eb);
constexpr HRESULT url_or_close_error = static_cast<HRESULT>(0x800403ec);
constexpr std::wstring_view open_procedure = L"OpenConnection";
constexpr std::wstring_view request_procedure = L"GetString";
constexpr std::wstring_view request_open_message = L"Error opening request to remote server.";
constexpr std::wstring_view read_message = L"Error getting information out of request.";
constexpr DWORD header_buffer_size = 32768;
constexpr DWORD body_read_size = 32768;
// More digits than any real body needs, and fewer than overflow.
constexpr size_t longest_length_text = 18;

// A control character would end the request line and start lines of the
// URL's choosing.
void refuse_control_characters(std::wstring_view text)
{
    if (std::any_of(text.begin(), text.end(), is_control_character))
        raise_with_reason(connection_error, http_source, request_open_message,
                          L"The URL holds a control character.");
}

// URL text as the request sends it: exactly the characters the script gave,
// in the ANSI code page; one the code page cannot hold would go out as
// another (a best fit or '?').
std::string exact_ansi(std::wstring_view text)
{
    std::optional<std::string> ansi = to_ansi_exact(text);
    if (!ansi)
        raise_with_reason(connection_error, http_source, request_open_message,
                          L"The URL holds characters the system code page cannot represent.");
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

// 1xx, 204 and 304 responses have no body, whatever Content-Length says.
bool has_body(DWORD status)
{
    return status >= 200 && status != HTTP_STATUS_NO_CONTENT && status != HTTP_STATUS_NOT_MODIFIED;
}

}  // namespace

HRESULT HTTP::OpenConnection()
{
    return member([&] { open_connection(); });
}

void HTTP::open_connection()
{
    if (open_mark)
        return;
    if (trim_spaces(server_name).empty())
        raise(url_or_close_error, http_source, L"No URL set.  Please ensure that the URL property is set.");

    // Checked before anything is opened: a refused URL reaches no server.
    refuse_control_characters(server_name);
    refuse_control_characters(path);
    const HostAndPort target = split_port(server_name);
    const std::string host = exact_ansi(target.host);
    const std::string object_name = exact_ansi(path);

    // Until the request is sent, a failure takes the handles opened so far
    // with it.
    InternetHandle session(platform().InternetOpenA(http_agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session || !set_timeouts(session.get(), http_timeout_options))
        raise_platform_failure(connection_error, http_source, L"Error opening connection to the internet.",
                               open_procedure);
    const INTERNET_PORT port =
        target.port ? target.port : (secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT);
    InternetHandle connection(platform().InternetConnectA(session.get(), host.c_str(), port, "", "",
                                                          INTERNET_SERVICE_HTTP, 0, 0));
    // Windows passes the session's timeouts on to its children; Wine keeps
    // only the connect timeout there and takes send and receive from the
    // connection.
    if (!connection || !set_timeouts(connection.get(), http_timeout_options))
        raise_platform_failure(connection_error, http_source, L"Error opening connection to remote server.",
                               open_procedure);
    InternetHandle request(platform().HttpOpenRequestA(connection.get(), "GET", object_name.c_str(), nullptr,
                                                       nullptr, nullptr, secure ? INTERNET_FLAG_SECURE : 0, 0));
    if (!request)
        raise_platform_failure(connection_error, http_source, request_open_message, open_procedure);

    session_handle = std::move(session);
    connection_handle = std::move(connection);
    request_handle = std::move(request);
    open_mark = true;
    try {
        request_and_read();
    } catch (...) {
        // Left open, the object would answer every later OpenConnection
        // with silence; closed, the next one really tries again.
        request_handle = InternetHandle();
        connection_handle = InternetHandle();
        session_handle = InternetHandle();
        open_mark = false;
        throw;
    }
    CloseHandles();
}

void HTTP::request_and_read()
{
    if (!platform().HttpSendRequestA(request_handle.get(), nullptr, 0, nullptr, 0))
        raise_platform_failure(send_error, http_source, L"Error opening request received from remote server.",
                               request_procedure);
    const std::optional<unsigned long long> announced_length = read_headers();
    DWORD status = 0;
    DWORD status_length = sizeof status;
    DWORD index = 0;
    if (!platform().HttpQueryInfoA(request_handle.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                                   &status_length, &index))
        raise_platform_failure(query_error, http_source, L"Error getting information out of request(2).",
                               request_procedure);
    read_body(has_body(status) ? announced_length : std::nullopt);
}

std::optional<unsigned long long> HTTP::read_headers()
{
    std::vector<char> block(header_buffer_size + 1, '\0');
    DWORD length = header_buffer_size;
    DWORD index = 0;
    BOOL read = platform().HttpQueryInfoA(request_handle.get(), HTTP_QUERY_RAW_HEADERS, block.data(), &length, &index);
    // A block larger than the usual buffer: the platform says how much it
    // needs.
    if (!read && platform().GetLastError() == ERROR_INSUFFICIENT_BUFFER && length > header_buffer_size) {
        block.assign(length + 1, '\0');
        index = 0;
        read = platform().HttpQueryInfoA(request_handle.get(), HTTP_QUERY_RAW_HEADERS, block.data(), &length, &index);
    }
    if (!read)
        raise_platform_failure(query_error, http_source, L"Error getting information out of request(1).",
                               request_procedure);

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
            headers().AddHeader(std::wstring(line.substr(0, colon)), std::wstring(line.substr(colon + 1)));
            promise.note(line.substr(0, colon), line.substr(colon + 1));
        }
        start = end + 1;
    }
    return promise.length();
}

void HTTP::read_body(std::optional<unsigned long long> announced_length)
{
    // The body is converted once, whole: a multi-byte character may fall
    // across two reads.
    std::string body;
    std::vector<char> chunk(body_read_size);
    for (;;) {
        DWORD bytes_read = 0;
        if (!platform().InternetReadFile(request_handle.get(), chunk.data(), body_read_size, &bytes_read)) {
            const LONG code = static_cast<LONG>(platform().GetLastError());
            append_from_ansi(content, body);  // what arrived before the failure stays
            raise_platform_error(read_error, http_source, read_message, code, request_procedure);
        }
        if (bytes_read == 0)
            break;
        body.append(chunk.data(), bytes_read);
    }
    append_from_ansi(content, body);
    // The platform ends a body the server cut short with an ordinary empty
    // read; only the length announced beforehand tells the two apart.
    if (announced_length && body.size() < *announced_length)
        raise_with_reason(read_error, http_source, read_message, early_end_reason(body.size(), *announced_length));
}

void HTTP::CloseHandles()
{
    if (!open_mark)
        return;
    // The first failure is the one reported; the other handles are closed
    // all the same, so that the object is never stuck half open.
    bool failed = false;
    LONG first_code = 0;
    for (InternetHandle* handle : {&request_handle, &connection_handle, &session_handle}) {
        if (handle->close())
            continue;
        if (!failed)
            first_code = static_cast<LONG>(platform().GetLastError());
        failed = true;
        handle->release();
    }
    open_mark = false;
    if (failed)
        raise_platform_error(url_or_close_error, http_source, L"Error closing connection.", first_code,
                             request_procedure);
}

}  // namespace corvane
