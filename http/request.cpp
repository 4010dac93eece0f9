// The request: settings turned into what goes on the wire, session,
// connection and request opened, redirects followed by hand, the final
// response's header lines added to Headers and its body kept or saved, the
// handles closed again.

#include "http/client.h"

#include "frame/charsets.h"
#include "frame/error.h"
#include "frame/error_text.h"
#include "frame/platform.h"
#include "frame/text.h"
#include "http/http_errors.h"
#include "http/part_file.h"
#include "http/redirects.h"
#include "http/request_text.h"
#include "wininet/error_text.h"
#include "wininet/platform.h"
#include "wininet/timeouts.h"

#include <algorithm>
#include <cwctype>
#include <new>
#include <vector>

namespace corvane::http {

namespace {

constexpr LPCSTR agent = "Corvane.HTTP";
constexpr DWORD timeout_options[] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                                     INTERNET_OPTION_RECEIVE_TIMEOUT};
constexpr std::wstring_view open_procedure = L"OpenConnection";
constexpr std::wstring_view request_procedure = L"GetString";
constexpr DWORD header_buffer_size = 32768;
constexpr DWORD status_text_size = 512;
// Body reads: as much as the buffer has room for, up to a size the platform
// serves in one call; a full buffer grows by at least the smallest.
constexpr size_t largest_read = 1024 * 1024;
constexpr size_t smallest_growth = 64 * 1024;
// A body streamed to a file passes through a buffer of this size.
constexpr size_t file_chunk = 256 * 1024;
// An announced length reserves this much at most: the server's word is no
// reason to set memory aside for a body that may never come.
constexpr unsigned long long largest_reservation = 64 * 1024 * 1024;
// More digits than any real body needs, and fewer than overflow.
constexpr size_t longest_length_text = 18;
constexpr int most_redirects = 10;
constexpr UINT utf8 = 65001;
constexpr std::wstring_view default_text_type = L"text/plain; charset=UTF-8";

// A control character would end the request line and start lines of the
// URL's choosing.
void refuse_control_characters(std::wstring_view text, const ErrorCode& error)
{
    if (std::any_of(text.begin(), text.end(), is_control_character))
        raise_with_reason(error, L"The URL holds a control character.");
}

// URL text as the request sends it: exactly the characters given, in the
// ANSI code page; one the code page cannot hold would go out as another (a
// best fit or '?').
std::string exact_ansi(std::wstring_view text, const ErrorCode& error)
{
    std::optional<std::string> ansi = to_ansi_exact(text);
    if (!ansi)
        raise_with_reason(error, L"The URL holds characters the system code page cannot represent.");
    return std::move(*ansi);
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
    return parse_decimal(text, longest_length_text);
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

// 1xx, 204 and 304 responses have no body, whatever Content-Length says;
// nor has any answer to HEAD.
bool has_body(DWORD status)
{
    return status >= 200 && status != HTTP_STATUS_NO_CONTENT && status != HTTP_STATUS_NOT_MODIFIED;
}

bool is_redirect(DWORD status)
{
    return status == HTTP_STATUS_MOVED || status == HTTP_STATUS_REDIRECT || status == HTTP_STATUS_REDIRECT_METHOD ||
           status == HTTP_STATUS_REDIRECT_KEEP_VERB || status == 308;
}

std::string base64(std::string_view bytes)
{
    constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t index = 0; index < bytes.size(); index += 3) {
        const size_t count = std::min<size_t>(3, bytes.size() - index);
        unsigned long group = 0;
        for (size_t offset = 0; offset < 3; ++offset)
            group = (group << 8) | (offset < count ? static_cast<unsigned char>(bytes[index + offset]) : 0);
        for (size_t digit = 0; digit < 4; ++digit)
            text += digit <= count ? digits[(group >> (18 - 6 * digit)) & 0x3f] : '=';
    }
    return text;
}

std::string utf8_of(std::wstring_view text)
{
    std::optional<std::string> bytes = encode_exact(text, utf8);
    if (!bytes)
        raise_with_reason(errors::invalid_setting, L"The credentials hold a broken character.");
    return std::move(*bytes);
}

}  // namespace

// Credentials, Username's and the script's own headers alike, go only
// where they were set for: the scheme, host and port of the URL the script
// gave, never to wherever a redirect points.
struct Origin {
    bool secure = false;
    std::wstring host;
    INTERNET_PORT port = 0;

    static Origin of(const Target& target)
    {
        const HostAndPort where = split_port(target.server_name);
        Origin origin{target.secure, fold_case(where.host), where.port};
        if (origin.port == 0)
            origin.port = target.secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
        return origin;
    }

    bool operator==(const Origin&) const = default;
};

// What the settings send, worked out before anything is opened: a setting
// that cannot go on the wire stops the request before it reaches a server.
struct Outgoing {
    std::string method;
    std::optional<std::string> body;
    // Header lines, each ending in CR LF. The type given to a text body
    // goes only with the body, the credentials (the script's own and those
    // of Username) only to the origin.
    std::string headers;
    std::string body_type;
    std::string credentials;

    static Outgoing of(const RequestSettings& settings)
    {
        Outgoing outgoing;
        outgoing.method = to_ansi(settings.method);
        const auto content_type = std::find_if(settings.headers.begin(), settings.headers.end(),
                                               [](const auto& header) { return equal_ignoring_case(header.first, L"Content-Type"); });
        if (settings.body_bytes) {
            outgoing.body = *settings.body_bytes;
        } else if (settings.body_text) {
            UINT code_page = utf8;
            if (content_type != settings.headers.end()) {
                const std::wstring charset = charset_of_content_type(content_type->second);
                if (!charset.empty()) {
                    const std::optional<UINT> named = code_page_of_charset(charset);
                    if (!named)
                        raise_with_reason(errors::invalid_setting,
                                          L"The Content-Type header names a charset this component does not know.");
                    code_page = *named;
                }
            }
            outgoing.body = encode_exact(*settings.body_text, code_page);
            if (!outgoing.body)
                raise_with_reason(errors::invalid_setting,
                                  L"The request body holds characters the charset of its Content-Type cannot "
                                  L"represent.");
        }
        bool own_authorization = false;
        for (const auto& [name, value] : settings.headers) {
            const bool credential = is_credential(name);
            own_authorization = own_authorization || equal_ignoring_case(name, L"Authorization");
            (credential ? outgoing.credentials : outgoing.headers) += header_line(name, value);
        }
        if (settings.body_text && content_type == settings.headers.end())
            outgoing.body_type = header_line(L"Content-Type", default_text_type);
        if (!settings.username.empty() && !own_authorization)
            outgoing.credentials +=
                "Authorization: Basic " + base64(utf8_of(settings.username + L":" + settings.password)) + "\r\n";
        return outgoing;
    }

    // What a server, or a proxy on the way, takes as proof of who asks: a
    // host a redirect names may be anyone's.
    static bool is_credential(std::wstring_view name)
    {
        return equal_ignoring_case(name, L"Authorization") || equal_ignoring_case(name, L"Cookie") ||
               equal_ignoring_case(name, L"Proxy-Authorization");
    }

    static std::string header_line(std::wstring_view name, std::wstring_view value)
    {
        // Both were checked when set; the check stands guard here too,
        // as nothing but these lines may end up in the request.
        const std::optional<std::string> line = to_ansi_exact(std::wstring(name) + L": " + std::wstring(value));
        if (!is_token(name) || !line ||
            std::any_of(line->begin(), line->end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; }))
            raise_with_reason(errors::invalid_setting, L"A request header cannot be sent as it is.");
        return *line + "\r\n";
    }

    std::string header_block(bool with_credentials) const
    {
        return headers + (body ? body_type : std::string()) + (with_credentials ? credentials : std::string());
    }

    // After a 303, and a 301 or 302 that answered a POST, the next request
    // asks for the new place with GET and without the body.
    void follow(DWORD status)
    {
        const bool to_get = status == HTTP_STATUS_REDIRECT_METHOD ||
                            ((status == HTTP_STATUS_MOVED || status == HTTP_STATUS_REDIRECT) && method == "POST");
        if (!to_get || method == "HEAD")
            return;
        method = "GET";
        body.reset();
    }
};

struct Response {
    DWORD status = 0;
    std::wstring status_text;
    std::vector<std::pair<std::wstring, std::wstring>> headers;
    std::optional<unsigned long long> announced_length;
    std::wstring location;
    std::wstring declared_charset;
};

namespace {

// Milliseconds since some fixed point, for telling a wait that ran out
// from one that failed at once.
unsigned long long now_milliseconds()
{
    return GetTickCount64();
}

}  // namespace

// One request's handles and what was sent on them.
class Client::Exchange {
public:
    Exchange(Client& client, const Target& target) : client_(client), target_(target) {}

    void send(const Outgoing& outgoing, bool with_credentials);
    Response read_response();
    // Returns the number of bytes read; 0 at the end of the body.
    size_t read(char* buffer, size_t size);

private:
    [[noreturn]] void raise_wait_failure(const ErrorCode& error, LONG code, unsigned long long started);

    Client& client_;
    Target target_;
};

void Client::Exchange::raise_wait_failure(const ErrorCode& error, LONG code, unsigned long long started)
{
    std::wstring description(error.message);
    description += error_text(code, request_procedure);
    // Windows says 12002 when a wait runs out; Wine reports the connection
    // aborted (12030). A wait that took the whole allowance timed out,
    // whatever the code says.
    const unsigned long long allowance = client_.settings_.timeout_seconds * 1000ull;
    if (code == ERROR_INTERNET_TIMEOUT || now_milliseconds() - started + 250 >= allowance)
        description += L" Timed out: the server sent nothing for " +
                       std::to_wstring(client_.settings_.timeout_seconds) + L" seconds.";
    raise(error, std::move(description));
}

void Client::Exchange::send(const Outgoing& outgoing, bool with_credentials)
{
    Client& client = client_;
    const RequestSettings& settings = client.settings_;
    // Checked before anything is opened: a refused URL reaches no server.
    refuse_control_characters(target_.server_name, errors::open_request);
    refuse_control_characters(target_.path, errors::open_request);
    const HostAndPort where = split_port(target_.server_name);
    const std::string host = exact_ansi(where.host, errors::open_request);
    const std::string object_name = exact_ansi(target_.path, errors::open_request);
    const DWORD timeout = settings.timeout_seconds * 1000;

    if (!client.session_) {
        const std::string proxy = to_ansi(settings.proxy);
        InternetHandle session(wininet().InternetOpenA(
            agent, proxy.empty() ? INTERNET_OPEN_TYPE_PRECONFIG : INTERNET_OPEN_TYPE_PROXY,
            proxy.empty() ? nullptr : proxy.c_str(), nullptr, 0));
        if (!session || !set_timeouts(session.get(), timeout_options, timeout))
            raise_platform_failure(errors::open_internet, open_procedure);
        client.session_ = std::move(session);
    }
    const INTERNET_PORT port =
        where.port ? where.port : (target_.secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT);
    InternetHandle connection(wininet().InternetConnectA(client.session_.get(), host.c_str(), port, "", "",
                                                         INTERNET_SERVICE_HTTP, 0, 0));
    // Windows passes the session's timeouts on to its children; Wine keeps
    // only the connect timeout there and takes send and receive from the
    // connection.
    if (!connection || !set_timeouts(connection.get(), timeout_options, timeout))
        raise_platform_failure(errors::open_connection, open_procedure);
    client.connection_ = std::move(connection);

    // A server-side fetch must see the resource as it is now, and must not
    // leave every body it fetched in the web server's disk cache. Redirects
    // are followed here, not by the platform, so that none goes from https
    // to plain http and no credentials follow one elsewhere.
    DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (target_.secure)
        flags |= INTERNET_FLAG_SECURE;
    if (target_.secure && settings.ignore_certificate_errors)
        flags |= INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
    client.request_ = InternetHandle(wininet().HttpOpenRequestA(client.connection_.get(), outgoing.method.c_str(),
                                                                object_name.c_str(), nullptr, nullptr, nullptr,
                                                                flags, 0));
    if (!client.request_)
        raise_platform_failure(errors::open_request, open_procedure);

    if (target_.secure && settings.ignore_certificate_errors) {
        DWORD security = 0;
        DWORD length = sizeof security;
        if (!wininet().InternetQueryOptionA(client.request_.get(), INTERNET_OPTION_SECURITY_FLAGS, &security,
                                            &length))
            raise_platform_failure(errors::open_request, open_procedure);
        security |= SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                    SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_WRONG_USAGE |
                    SECURITY_FLAG_IGNORE_REVOCATION;
        if (!wininet().InternetSetOptionA(client.request_.get(), INTERNET_OPTION_SECURITY_FLAGS, &security,
                                          sizeof security))
            raise_platform_failure(errors::open_request, open_procedure);
    }
    if (!settings.proxy_username.empty()) {
        for (const auto& [option, text] : {std::pair{INTERNET_OPTION_PROXY_USERNAME, &settings.proxy_username},
                                           std::pair{INTERNET_OPTION_PROXY_PASSWORD, &settings.proxy_password}}) {
            std::string value = to_ansi(*text);
            if (!wininet().InternetSetOptionA(client.request_.get(), option, value.data(),
                                              static_cast<DWORD>(value.size() + 1)))
                raise_platform_failure(errors::open_request, open_procedure);
        }
    }

    const std::string headers = outgoing.header_block(with_credentials);
    const unsigned long long started = now_milliseconds();
    if (!wininet().HttpSendRequestA(client.request_.get(), headers.empty() ? nullptr : headers.c_str(),
                                    static_cast<DWORD>(headers.size()),
                                    outgoing.body ? const_cast<char*>(outgoing.body->data()) : nullptr,
                                    outgoing.body ? static_cast<DWORD>(outgoing.body->size()) : 0)) {
        const LONG code = static_cast<LONG>(platform().GetLastError());
        raise_wait_failure(errors::send_request, code, started);
    }
}

Response Client::Exchange::read_response()
{
    HINTERNET request = client_.request_.get();
    Response response;
    std::vector<char> block(header_buffer_size + 1, '\0');
    DWORD length = header_buffer_size;
    DWORD index = 0;
    BOOL read = wininet().HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS, block.data(), &length, &index);
    // A block larger than the usual buffer: the platform says how much it
    // needs.
    if (!read && platform().GetLastError() == ERROR_INSUFFICIENT_BUFFER && length > header_buffer_size) {
        block.assign(length + 1, '\0');
        index = 0;
        read = wininet().HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS, block.data(), &length, &index);
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
            const std::wstring_view name = line.substr(0, colon);
            const std::wstring_view value = line.substr(colon + 1);
            promise.note(name, value);
            if (equal_ignoring_case(name, L"Location"))
                response.location = trim_blanks(value);
            else if (equal_ignoring_case(name, L"Content-Type"))
                response.declared_charset = charset_of_content_type(value);
            response.headers.emplace_back(name, value);
        }
        start = end + 1;
    }
    response.announced_length = promise.length();

    DWORD status_length = sizeof response.status;
    index = 0;
    if (!wininet().HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &response.status,
                                  &status_length, &index))
        raise_platform_failure(errors::query_status, request_procedure);
    // A missing reason phrase is no failure: the code says it all.
    std::vector<char> status_text(status_text_size + 1, '\0');
    DWORD status_text_length = status_text_size;
    index = 0;
    if (wininet().HttpQueryInfoA(request, HTTP_QUERY_STATUS_TEXT, status_text.data(), &status_text_length, &index))
        response.status_text = from_ansi_buffer(status_text.data(), status_text.size());
    return response;
}

size_t Client::Exchange::read(char* buffer, size_t size)
{
    DWORD bytes_read = 0;
    const unsigned long long started = now_milliseconds();
    if (!wininet().InternetReadFile(client_.request_.get(), buffer, static_cast<DWORD>(size), &bytes_read)) {
        const LONG code = static_cast<LONG>(platform().GetLastError());
        raise_wait_failure(errors::read_body, code, started);
    }
    return std::min<size_t>(bytes_read, size);
}

void Client::fetch(const HeaderSink& header_sink)
{
    run(header_sink, [this](Exchange& exchange, const Response& response) { read_kept_body(exchange, response); });
}

void Client::read_kept_body(Exchange& exchange, const Response& response)
{
    // Read straight into one buffer, sized from the length announced when
    // there is one: one byte more, so that the read that finds the end
    // needs no growth. The bytes are kept as they came and converted only
    // when Content is read: a multi-byte character may fall across two
    // reads, and text held beside its bytes would double what the body
    // costs.
    const std::optional<unsigned long long> announced = response.announced_length;
    const unsigned long long limit = settings_.max_response_size;
    const std::wstring instead = L" SaveToFile streams a body of any size to a file.";
    // Refused before a byte of it is read: the server's word is enough.
    if (limit && announced && *announced > limit)
        raise_with_reason(errors::response_too_large, L"The server announced " + std::to_wstring(*announced) +
                                                          L" bytes; MaxResponseSize is " + std::to_wstring(limit) +
                                                          L"." + instead);
    Body& kept = bodies_.emplace_back();
    kept.declared_charset = response.declared_charset;
    last_body_kept_ = true;
    std::string& body = kept.bytes;
    // A body refused whole leaves nothing of itself: what it took is
    // given back at once.
    const auto drop = [&] {
        bodies_.pop_back();
        last_body_kept_ = false;
    };
    try {
        body.reserve(announced ? static_cast<size_t>(std::min(*announced, largest_reservation)) + 1 : smallest_growth);
        for (;;) {
            const size_t used = body.size();
            const size_t room = body.capacity() - used;
            size_t wanted = room > 0 ? std::min(room, largest_read) : smallest_growth;
            // One byte past the limit tells a body that reaches it from one
            // that goes beyond.
            if (limit)
                wanted = static_cast<size_t>(std::min<unsigned long long>(wanted, limit + 1 - used));
            body.resize(used + wanted);
            size_t bytes_read = 0;
            try {
                bytes_read = exchange.read(body.data() + used, wanted);
            } catch (...) {
                // What arrived before a failure stays.
                body.resize(used);
                release_unused(body);
                throw;
            }
            body.resize(used + bytes_read);
            if (bytes_read == 0)
                break;
            if (limit && body.size() > limit) {
                drop();
                raise_with_reason(errors::response_too_large, L"More than MaxResponseSize, " +
                                                                  std::to_wstring(limit) + L" bytes, arrived." +
                                                                  instead);
            }
        }
    } catch (const std::bad_alloc&) {
        const size_t arrived = body.size();
        drop();
        raise_with_reason(errors::out_of_memory, L"The response body did not fit in memory after " +
                                                     std::to_wstring(arrived) + L" bytes." + instead);
    }
    release_unused(body);
    // The platform ends a body the server cut short with an ordinary empty
    // read; only the length announced beforehand tells the two apart.
    if (announced && body.size() < *announced)
        raise_with_reason(errors::read_body, early_end_reason(body.size(), *announced));
}

void Client::fetch_to_file(const HeaderSink& header_sink, std::wstring_view path)
{
    // Made first: a path that takes no file stops the request before it
    // is sent.
    PartFile file(path);
    run(header_sink, [&](Exchange& exchange, const Response& response) {
        last_body_kept_ = false;
        unsigned long long arrived = 0;
        std::vector<char> chunk(file_chunk);
        while (const size_t bytes_read = exchange.read(chunk.data(), chunk.size())) {
            file.write(chunk.data(), bytes_read);
            arrived += bytes_read;
        }
        if (response.announced_length && arrived < *response.announced_length)
            raise_with_reason(errors::read_body, early_end_reason(arrived, *response.announced_length));
        file.commit();
    });
}

void Client::run(const HeaderSink& header_sink, const BodyReader& read_body)
{
    if (open_)
        return;
    if (trim_spaces(server_name_).empty())
        raise(errors::url_not_set);
    Outgoing outgoing = Outgoing::of(settings_);
    Target target{secure_, server_name_, path_};
    const Origin origin = Origin::of(target);

    open_ = true;
    try {
        for (int redirects = 0;; ++redirects) {
            Exchange exchange(*this, target);
            exchange.send(outgoing, Origin::of(target) == origin);
            Response response = exchange.read_response();
            if (settings_.follow_redirects && is_redirect(response.status) && !response.location.empty()) {
                if (std::any_of(response.location.begin(), response.location.end(), is_control_character))
                    raise_with_reason(errors::redirect_refused, L"The Location header holds a control character.");
                const std::optional<Target> next = resolve_location(target, response.location);
                if (!next)
                    raise_with_reason(errors::redirect_refused,
                                      L"The Location header names no http or https address.");
                if (target.secure && !next->secure)
                    raise_with_reason(errors::redirect_refused,
                                      L"The server redirected from https to plain http: " + next->url());
                if (redirects == most_redirects)
                    raise_with_reason(errors::redirect_refused,
                                      L"More than " + std::to_wstring(most_redirects) + L" redirects.");
                outgoing.follow(response.status);
                request_ = InternetHandle();
                connection_ = InternetHandle();
                target = *next;
                continue;
            }
            status_code_ = static_cast<long>(response.status);
            status_text_ = std::move(response.status_text);
            final_url_ = target.url();
            for (auto& [name, value] : response.headers)
                header_sink(std::move(name), std::move(value));
            // The body is read whatever the status: the platform knows where
            // it ends. Only the length a bodiless response announced is no
            // promise.
            if (!has_body(response.status) || outgoing.method == "HEAD")
                response.announced_length.reset();
            read_body(exchange, response);
            break;
        }
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

const std::string& Client::response_body() const
{
    static const std::string none;
    return last_body_kept_ && !bodies_.empty() ? bodies_.back().bytes : none;
}

Bstr Client::content() const
try {
    std::vector<EncodedPiece> pieces;
    pieces.reserve(bodies_.size());
    const bool automatic = equal_ignoring_case(settings_.charset, L"auto");
    const UINT chosen = settings_.charset.empty() || automatic ? CP_ACP : *code_page_of_charset(settings_.charset);
    for (const Body& body : bodies_) {
        UINT code_page = chosen;
        if (automatic)
            code_page = code_page_of_charset(body.declared_charset).value_or(utf8);
        pieces.push_back({body.bytes, code_page});
    }
    return bstr_from_encoded(pieces);
} catch (const std::bad_alloc&) {
    // Never an empty text in place of one that could not be made.
    size_t bytes = 0;
    for (const Body& body : bodies_)
        bytes += body.bytes.size();
    raise_with_reason(errors::out_of_memory,
                      L"Content could not be made of " + std::to_wstring(bytes) +
                          L" bytes of bodies. ResponseBody gives the last body as bytes; SaveToFile streams a "
                          L"body to a file.");
}

void Client::reset()
{
    close_handles();
    server_name_.clear();
    path_.clear();
    secure_ = false;
    settings_ = RequestSettings();
    status_code_ = 0;
    status_text_.clear();
    final_url_.clear();
    bodies_.clear();
    bodies_.shrink_to_fit();
    last_body_kept_ = false;
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
