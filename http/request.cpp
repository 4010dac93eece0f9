// The GET request: session, connection and request opened, the response's
// header lines added to Headers, the body appended to Content, the handles
// closed again.

#include "http/http.h"

#include "frame/error_text.h"
#include "frame/platform.h"
#include "frame/text.h"

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
constexpr DWORD header_buffer_size = 32768;
constexpr DWORD body_read_size = 32768;

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

    // Until the request is sent, a failure takes the handles opened so far
    // with it.
    InternetHandle session(platform().InternetOpenA(http_agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session)
        raise_platform_failure(connection_error, http_source, L"Error opening connection to the internet.",
                               open_procedure);
    const HostAndPort target = split_port(server_name);
    const INTERNET_PORT port =
        target.port ? target.port : (secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT);
    InternetHandle connection(platform().InternetConnectA(session.get(), to_ansi(target.host).c_str(), port, "", "",
                                                          INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection)
        raise_platform_failure(connection_error, http_source, L"Error opening connection to remote server.",
                               open_procedure);
    InternetHandle request(platform().HttpOpenRequestA(connection.get(), "GET", to_ansi(path).c_str(), nullptr,
                                                       nullptr, nullptr, secure ? INTERNET_FLAG_SECURE : 0, 0));
    if (!request)
        raise_platform_failure(connection_error, http_source, L"Error opening request to remote server.",
                               open_procedure);

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
    read_headers();
    DWORD status = 0;
    DWORD status_length = sizeof status;
    DWORD index = 0;
    if (!platform().HttpQueryInfoA(request_handle.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                                   &status_length, &index))
        raise_platform_failure(query_error, http_source, L"Error getting information out of request(2).",
                               request_procedure);
    read_body();
}

void HTTP::read_headers()
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
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'\0', start);
        if (end == std::wstring::npos)
            end = text.size();
        const std::wstring_view line(text.data() + start, end - start);
        if (const size_t colon = line.find(L':'); colon != std::wstring_view::npos)
            headers().AddHeader(std::wstring(line.substr(0, colon)), std::wstring(line.substr(colon + 1)));
        start = end + 1;
    }
}

void HTTP::read_body()
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
            raise_platform_error(read_error, http_source, L"Error getting information out of request.", code,
                                 request_procedure);
        }
        if (bytes_read == 0)
            break;
        body.append(chunk.data(), bytes_read);
    }
    append_from_ansi(content, body);
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
