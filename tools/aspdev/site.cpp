#include "tools/aspdev/site.h"

#include "tools/asp_host/page_objects.h"
#include "tools/aspdev/page_source.h"
#include "tools/aspdev/script_runner.h"

#include "frame/handles.h"
#include "frame/text.h"

#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace corvane::aspdev {

namespace {

using asp_host::PageState;
using asp_host::same_name;

constexpr size_t max_static_bytes = 256 * 1024 * 1024;
constexpr wchar_t session_cookie[] = L"ASPSESSIONID";
constexpr size_t max_sessions = 10000;

std::string utf8_of(std::wstring_view text)
{
    return to_utf8_unescaped(text);
}

std::string status_line(int status, const std::string& reason)
{
    return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
}

std::wstring extension_of(std::wstring_view name)
{
    const size_t dot = name.find_last_of(L"./\\");
    if (dot == std::wstring_view::npos || name[dot] != L'.')
        return {};
    std::wstring extension(name.substr(dot + 1));
    for (wchar_t& c : extension)
        c = ascii_lower(c);
    return extension;
}

const char* content_type_of(std::wstring_view extension)
{
    static const std::pair<const wchar_t*, const char*> types[] = {
        {L"html", "text/html"},         {L"htm", "text/html"},        {L"css", "text/css"},
        {L"js", "text/javascript"},     {L"txt", "text/plain"},       {L"csv", "text/csv"},
        {L"xml", "text/xml"},           {L"json", "application/json"}, {L"png", "image/png"},
        {L"jpg", "image/jpeg"},         {L"jpeg", "image/jpeg"},      {L"gif", "image/gif"},
        {L"svg", "image/svg+xml"},      {L"ico", "image/x-icon"},     {L"pdf", "application/pdf"},
        {L"zip", "application/zip"},    {L"wasm", "application/wasm"},
    };
    for (const auto& [name, type] : types) {
        if (extension == name)
            return type;
    }
    return "application/octet-stream";
}

// Files a classic host never sends as they are: page sources and settings.
bool is_never_served(std::wstring_view extension)
{
    for (const wchar_t* hidden : {L"asa", L"inc", L"config", L"asax", L"cer", L"cdx"}) {
        if (extension == hidden)
            return true;
    }
    return false;
}

std::optional<std::string> read_whole_file(const std::wstring& path, size_t limit)
{
    const HANDLE opened = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return std::nullopt;
    const UniqueHandle<HANDLE, CloseHandle> file(opened);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 || static_cast<unsigned long long>(size.QuadPart) > limit)
        return std::nullopt;
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD read = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
        if (!ReadFile(file.get(), bytes.data() + done, chunk, &read, nullptr) || read == 0)
            return std::nullopt;
        done += read;
    }
    return bytes;
}

DWORD attributes_of(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str());
}

// The name as the file system holds it, so that a short 8.3 alias or a
// different letter case cannot make a page look like a static file.
std::wstring real_name_of(const std::wstring& path)
{
    std::wstring buffer(32768, L'\0');
    const DWORD length = GetLongPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size())
        return path;
    buffer.resize(length);
    return buffer;
}

// The path again as a URL path: UTF-8, %-escaped but for unreserved
// characters and "/".
std::string url_path_of(std::wstring_view path)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : utf8_of(path)) {
        const auto byte = static_cast<unsigned char>(c);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            std::string_view("-._~/").find(c) != std::string_view::npos) {
            out += c;
        } else {
            out += '%';
            out += digits[byte >> 4];
            out += digits[byte & 15];
        }
    }
    return out;
}

std::wstring random_session_id()
{
    unsigned char bytes[24];
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        check_com(E_FAIL);
    std::wstring id;
    for (const unsigned char byte : bytes)
        id += static_cast<wchar_t>(L'A' + byte % 26);
    return id;
}

bool is_header_value_clean(std::wstring_view value)
{
    return std::none_of(value.begin(), value.end(), [](wchar_t c) { return (c < 32 && c != L'\t') || c == 127; });
}

bool is_token(std::wstring_view text)
{
    static constexpr std::wstring_view separators = L"()<>@,;:\\\"/[]?={} \t";
    return !text.empty() && std::all_of(text.begin(), text.end(), [](wchar_t c) {
        return c > 32 && c < 127 && separators.find(c) == std::wstring_view::npos;
    });
}

std::wstring http_date(DATE when)
{
    SYSTEMTIME time{};
    if (!VariantTimeToSystemTime(when, &time))
        return {};
    static const wchar_t* days[] = {L"Sun", L"Mon", L"Tue", L"Wed", L"Thu", L"Fri", L"Sat"};
    static const wchar_t* months[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                      L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};
    wchar_t text[64];
    swprintf(text, 64, L"%ls, %02u %ls %04u %02u:%02u:%02u GMT", days[time.wDayOfWeek % 7], time.wDay,
             months[(time.wMonth + 11) % 12], time.wYear, time.wHour, time.wMinute, time.wSecond);
    return text;
}

std::wstring hex_number(HRESULT number)
{
    wchar_t text[16];
    swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(number));
    return text;
}

template <class Object>
ComPtr<IDispatch> as_dispatch(const ComPtr<Object>& object)
{
    return ComPtr<IDispatch>::share(object.get());
}

struct Refused {
    std::wstring what;
};

struct PageHead {
    // The status line and the page's headers, each line ended.
    std::string lines;
    bool has_length = false;
};

// A header the page set with a line break or a control character refuses
// the whole response.
PageHead page_head(const PageState& state, const std::vector<std::wstring>& extra_cookies)
{
    bool has_length = false;
    const std::wstring& status = state.status;
    if (status.size() < 4 || !std::iswdigit(status[0]) || !std::iswdigit(status[1]) || !std::iswdigit(status[2]) ||
        status[3] != L' ' || !is_header_value_clean(status) || status[0] < L'1' || status[0] > L'5')
        throw Refused{L"Response.Status \"" + status + L"\""};
    std::wstring headers;
    auto add = [&](std::wstring_view name, std::wstring_view value) {
        if (!is_token(name) || !is_header_value_clean(value))
            throw Refused{L"the header \"" + std::wstring(name) + L": " + std::wstring(value) + L"\""};
        headers += std::wstring(name) + L": " + std::wstring(value) + L"\r\n";
    };
    std::wstring content_type = state.content_type;
    if (!state.charset.empty())
        content_type += L"; charset=" + state.charset;
    add(L"Content-Type", content_type);
    add(L"Cache-Control", state.cache_control);
    for (const std::wstring& header : state.headers) {
        const size_t colon = header.find(L": ");
        if (colon == std::wstring::npos)
            throw Refused{L"the header \"" + header + L"\""};
        const std::wstring_view name = std::wstring_view(header).substr(0, colon);
        has_length = has_length || same_name(name, L"Content-Length");
        add(name, std::wstring_view(header).substr(colon + 2));
    }
    for (const asp_host::ResponseCookie& cookie : state.response_cookies) {
        std::wstring line = cookie.name + L"=" + asp_host::url_encode(cookie.value);
        if (!cookie.path.empty())
            line += L"; path=" + cookie.path;
        if (!cookie.domain.empty()) {
            if (!std::all_of(cookie.domain.begin(), cookie.domain.end(),
                             [](wchar_t c) { return std::iswalnum(c) || c == L'.' || c == L'-'; }))
                throw Refused{L"the cookie domain \"" + cookie.domain + L"\""};
            line += L"; domain=" + cookie.domain;
        }
        if (cookie.expires)
            line += L"; expires=" + http_date(*cookie.expires);
        if (cookie.secure)
            line += L"; secure";
        if (cookie.path.find_first_of(L";,") != std::wstring::npos)
            throw Refused{L"the cookie path \"" + cookie.path + L"\""};
        add(L"Set-Cookie", line);
    }
    for (const std::wstring& cookie : extra_cookies)
        add(L"Set-Cookie", cookie);
    return {"HTTP/1.1 " + asp_host::ansi_of(status) + "\r\n" + asp_host::ansi_of(headers), has_length};
}

// The page's response as the client gets it when the page sent nothing
// while it ran. A length the page gave is the one the client gets.
std::string page_response(const PageState& state, const std::vector<std::wstring>& extra_cookies, bool head_only)
{
    const PageHead head = page_head(state, extra_cookies);
    std::string response = head.lines;
    if (!head.has_length)
        response += "Content-Length: " + std::to_string(state.body.size()) + "\r\n";
    response += "Connection: close\r\n\r\n";
    if (!head_only)
        response += state.body;
    return response;
}

// A response the page sends while it runs, as IIS does after a Flush or
// with buffering off: the head with the first bytes, then the body as it
// comes, chunked unless the page gave its length. Only the bytes handed
// over are held.
class StreamedResponse {
public:
    StreamedResponse(ClientLink& client, bool head_only, std::function<std::vector<std::wstring>()> cookies)
        : client_(client), head_only_(head_only), cookies_(std::move(cookies))
    {
    }

    bool started() const { return started_; }

    void send(const PageState& state, std::string_view bytes)
    {
        std::string out;
        if (!started_) {
            PageHead head;
            try {
                head = page_head(state, cookies_());
            } catch (const Refused& refused) {
                throw ComponentError(E_FAIL, L"Response object",
                                     L"The response was refused: " + refused.what +
                                         L" holds a line break or a character a header cannot carry.");
            }
            chunked_ = !head.has_length;
            out = head.lines + (chunked_ ? "Transfer-Encoding: chunked\r\n" : "") + "Connection: close\r\n\r\n";
            started_ = true;
        }
        if (!head_only_ && !bytes.empty()) {
            if (chunked_) {
                char size[20];
                std::snprintf(size, sizeof size, "%zX\r\n", bytes.size());
                out += size;
            }
            out += bytes;
            if (chunked_)
                out += "\r\n";
        }
        client_.send(out);
    }

    // What the page left in the buffer, then the end of the chunks.
    void finish(const PageState& state)
    {
        send(state, state.body);
        if (chunked_ && !head_only_)
            client_.send("0\r\n\r\n");
    }

private:
    ClientLink& client_;
    bool head_only_;
    std::function<std::vector<std::wstring>()> cookies_;
    bool started_ = false;
    bool chunked_ = false;
};

void add_server_variables(PageState& state, const RequestHead& request, unsigned short port,
                          const std::wstring& address, const std::wstring& local_path, const std::string& body)
{
    auto set = [&](const wchar_t* name, std::wstring_view value) { state.server_variables.replace(name, value); };
    // Pages build links from SERVER_NAME: a client's Host may only pick
    // between the two names of this machine's loopback.
    std::wstring server_name = L"127.0.0.1";
    if (const std::string* host = request.header("Host")) {
        const std::string name = host->substr(0, host->rfind(':'));
        if (name == "localhost")
            server_name = L"localhost";
    }
    set(L"HTTPS", L"off");
    set(L"SERVER_NAME", server_name);
    set(L"SERVER_PORT", std::to_wstring(port));
    set(L"SERVER_PROTOCOL", L"HTTP/1.1");
    set(L"SERVER_SOFTWARE", L"aspdev");
    set(L"REQUEST_METHOD", asp_host::text_of_ansi(request.method));
    set(L"SCRIPT_NAME", address);
    set(L"URL", address);
    set(L"PATH_INFO", address);
    set(L"PATH_TRANSLATED", local_path);
    set(L"APPL_PHYSICAL_PATH", state.site_root + L"\\");
    set(L"REMOTE_ADDR", L"127.0.0.1");
    set(L"REMOTE_HOST", L"127.0.0.1");
    set(L"CONTENT_LENGTH", std::to_wstring(body.size()));
    std::wstring all_http;
    for (const auto& [name, value] : request.headers) {
        std::wstring variable = L"HTTP_" + asp_host::text_of_ansi(name);
        for (wchar_t& c : variable)
            c = c == L'-' ? L'_' : ascii_upper(c);
        set(variable.c_str(), asp_host::text_of_ansi(value));
        all_http += variable + L":" + asp_host::text_of_ansi(value) + L"\n";
        if (same_name(asp_host::text_of_ansi(name), L"Content-Type"))
            set(L"CONTENT_TYPE", asp_host::text_of_ansi(value));
    }
    set(L"ALL_HTTP", all_http);
    state.query_string.parse(asp_host::text_of_ansi(request.query));
    set(L"QUERY_STRING", asp_host::text_of_ansi(request.query));
}

void add_cookies(PageState& state, const RequestHead& request)
{
    for (const auto& [name, value] : request.headers) {
        if (!same_name(asp_host::text_of_ansi(name), L"Cookie"))
            continue;
        const std::wstring text = asp_host::text_of_ansi(value);
        std::wstring_view rest = text;
        while (!rest.empty()) {
            const size_t end = rest.find(L';');
            const std::wstring_view pair = trim_spaces(rest.substr(0, end));
            rest = end == std::wstring_view::npos ? std::wstring_view() : rest.substr(end + 1);
            const size_t equals = pair.find(L'=');
            if (equals == std::wstring_view::npos || equals == 0)
                continue;
            state.cookies.add(pair.substr(0, equals), asp_host::url_decode(pair.substr(equals + 1)));
        }
    }
}

std::wstring location_of(const PageState& state)
{
    for (const std::wstring& header : state.headers) {
        if (header.rfind(L"Location: ", 0) == 0)
            return header.substr(10);
    }
    return {};
}

}  // namespace

std::wstring html_encode(std::wstring_view text)
{
    return html_escape(text);
}

std::string error_response(int status, const std::string& reason, const std::wstring& detail)
{
    const std::string body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + std::to_string(status) +
                             " " + reason + "</title></head>\n<body><h1>" + std::to_string(status) + " " + reason +
                             "</h1>\n" + utf8_of(detail) + "\n</body></html>\n";
    std::string response = status_line(status, reason);
    if (status == 405)
        response += "Allow: GET, HEAD, POST\r\n";
    response += "Content-Type: text/html; charset=utf-8\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\nConnection: close\r\n\r\n" + body;
    return response;
}

Site::Site(std::wstring root, unsigned short port,
           const std::vector<std::pair<std::wstring, std::wstring>>& application_values, size_t buffer_limit)
    : root_(std::move(root)), port_(port), buffer_limit_(buffer_limit), application_(std::make_shared<asp_host::StoredValues>())
{
    while (!root_.empty() && (root_.back() == L'\\' || root_.back() == L'/'))
        root_.pop_back();
    for (const auto& [name, value] : application_values) {
        Variant text;
        set_variant_text(text.get(), value);
        application_->write(name, *text.get());
    }
}

std::optional<std::wstring> Site::read_page_file(const std::wstring& address) const
{
    const std::optional<std::wstring> path = asp_host::map_site_path(root_, L"/", address);
    if (!path)
        return std::nullopt;
    const DWORD attributes = attributes_of(*path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    const std::optional<std::string> bytes = read_whole_file(*path, 16 * 1024 * 1024);
    if (!bytes)
        return std::nullopt;
    // A UTF-8 signature says how the file is written; otherwise it is in
    // the ANSI code page, as on a classic host.
    if (bytes->rfind("\xEF\xBB\xBF", 0) == 0)
        return from_utf8_escaped(std::string_view(*bytes).substr(3));
    return from_ansi(*bytes);
}

std::string Site::respond(const RequestHead& request, const std::string& body, ClientLink& client)
{
    std::wstring address = request.path;
    const std::optional<std::wstring> mapped = asp_host::map_site_path(root_, L"/", address);
    if (!mapped)
        return error_response(400, "Bad Request", L"<p>The path names something other than a file.</p>");
    std::wstring local = *mapped;
    DWORD attributes = attributes_of(local);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (address.empty() || address.back() != L'/') {
            std::string response = status_line(301, "Moved Permanently");
            response += "Location: " + url_path_of(address + L"/") + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            return response;
        }
        bool found = false;
        for (const wchar_t* name : {L"default.asp", L"index.asp", L"index.html", L"default.htm"}) {
            const std::wstring candidate = local + (local.back() == L'\\' ? L"" : L"\\") + name;
            const DWORD candidate_attributes = attributes_of(candidate);
            if (candidate_attributes != INVALID_FILE_ATTRIBUTES && !(candidate_attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                local = candidate;
                address += name;
                found = true;
                break;
            }
        }
        if (!found)
            return error_response(404, "Not Found", L"<p>The folder has no default page.</p>");
        attributes = attributes_of(local);
    }
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return error_response(404, "Not Found", L"<p>Nothing is at " + html_encode(address) + L".</p>");
    const std::wstring extension = extension_of(real_name_of(local));
    if (is_never_served(extension))
        return error_response(403, "Forbidden", L"<p>Files of this kind are not served.</p>");
    if (extension == L"asp")
        return run_page(request, body, address, client);
    return serve_file(request, local);
}

std::string Site::serve_file(const RequestHead& request, const std::wstring& local_path)
{
    const std::optional<std::string> bytes = read_whole_file(local_path, max_static_bytes);
    if (!bytes)
        return error_response(403, "Forbidden", L"<p>The file cannot be read.</p>");
    std::string response = status_line(200, "OK");
    response += std::string("Content-Type: ") + content_type_of(extension_of(real_name_of(local_path))) + "\r\n";
    response += "Content-Length: " + std::to_string(bytes->size()) + "\r\nConnection: close\r\n\r\n";
    if (request.method != "HEAD")
        response += *bytes;
    return response;
}

std::shared_ptr<asp_host::SessionData> Site::session_of(const RequestHead& request, bool& is_new)
{
    const auto now = std::chrono::steady_clock::now();
    std::erase_if(sessions_, [&](const auto& entry) {
        return entry.second.data->abandoned ||
               now - entry.second.last_used > std::chrono::minutes(entry.second.data->timeout_minutes);
    });
    PageState cookies_only;
    add_cookies(cookies_only, request);
    if (const auto* entry = cookies_only.cookies.find(session_cookie)) {
        for (const std::wstring& id : entry->values) {
            const auto found = sessions_.find(id);
            if (found != sessions_.end()) {
                found->second.last_used = now;
                is_new = false;
                return found->second.data;
            }
        }
    }
    // Every client without a cookie makes a session: the oldest go first.
    while (sessions_.size() >= max_sessions) {
        const auto oldest = std::min_element(sessions_.begin(), sessions_.end(), [](const auto& a, const auto& b) {
            return a.second.last_used < b.second.last_used;
        });
        sessions_.erase(oldest);
    }
    auto data = std::make_shared<asp_host::SessionData>();
    data->id = random_session_id();
    sessions_[data->id] = {data, now};
    is_new = true;
    return data;
}

std::string Site::run_page(const RequestHead& request, const std::string& body, const std::wstring& address,
                           ClientLink& client)
{
    auto translated = translate_page(address, [this](const std::wstring& file) { return read_page_file(file); });
    if (const auto* error = std::get_if<PageError>(&translated)) {
        return error_response(500, "Internal Server Error",
                              L"<p>The page cannot be read as ASP.</p><p>File <b>" + html_encode(error->where.file) +
                                  L"</b>, line <b>" + std::to_wstring(error->where.line) + L"</b>: " +
                                  html_encode(error->message) + L"</p>");
    }
    const PageScript& page = std::get<PageScript>(translated);

    bool new_session = false;
    const std::shared_ptr<asp_host::SessionData> session_data = session_of(request, new_session);

    auto state = std::make_shared<PageState>();
    state->site_root = root_;
    state->script_path = address;
    state->end_stops_script = true;
    state->start_created_objects = true;
    state->buffer_limit = buffer_limit_;
    const auto session_cookies = [&] {
        std::vector<std::wstring> cookies;
        if (new_session && !session_data->abandoned)
            cookies.push_back(std::wstring(session_cookie) + L"=" + session_data->id + L"; path=/; HttpOnly");
        return cookies;
    };
    StreamedResponse streamed(client, request.method == "HEAD", session_cookies);
    state->send_out = [&](std::string_view bytes) { streamed.send(*state, bytes); };
    state->client_connected = [&] { return client.connected(); };
    for (const std::wstring& block : page.blocks)
        state->blocks.push_back(asp_host::ansi_of(block));
    add_server_variables(*state, request, port_, address, asp_host::map_site_path(root_, L"/", address).value_or(L""),
                         body);
    add_cookies(*state, request);
    state->request_body = body;
    if (const std::string* type = request.header("Content-Type");
        type && request.method == "POST" && type->rfind("application/x-www-form-urlencoded", 0) == 0)
        state->form.parse(asp_host::text_of_ansi(body));

    std::mutex engine_lock;
    ComPtr<IActiveScript> running_engine;
    std::optional<ScriptFailure> failure;
    std::wstring crash;
    const std::function<void()> job = [&] {
        try {
            auto request_object = make_object<asp_host::Request>(state);
            auto response_object = make_object<asp_host::Response>(state);
            auto server_object = make_object<asp_host::Server>(state);
            auto session_object = make_object<asp_host::Session>(state, session_data);
            auto application_object = make_object<asp_host::Application>(state, application_);
            state->session = as_dispatch(session_object);
            state->application = as_dispatch(application_object);
            state->context = as_dispatch(
                make_object<asp_host::ScriptingContext>(state, request_object, response_object, server_object));
            const std::vector<NamedObject> objects{
                {L"Request", as_dispatch(request_object)},   {L"Response", as_dispatch(response_object)},
                {L"Server", as_dispatch(server_object)},     {L"Session", as_dispatch(session_object)},
                {L"Application", as_dispatch(application_object)},
            };
            failure = run_script(
                page.script, objects,
                [&](const ComPtr<IActiveScript>& engine) {
                    const std::lock_guard lock(engine_lock);
                    running_engine = engine;
                },
                [](HRESULT number) { return number == asp_host::page_ended_error; });
            {
                const std::lock_guard lock(engine_lock);
                running_engine = {};
            }
            state->end_page();
        } catch (const ComponentError& error) {
            crash = L"The page could not be started: " + error.description() + L" (" + hex_number(error.number()) + L")";
        } catch (const std::exception&) {
            crash = L"The server ran out of memory running the page.";
        }
        state->end_page();
    };
    const PageThread::Outcome outcome = page_thread_.run(
        job, [&] { return static_cast<unsigned long long>(std::max(1L, state->script_timeout.load())) * 1000; },
        [&] {
            const std::lock_guard lock(engine_lock);
            if (running_engine)
                running_engine->InterruptScriptThread(SCRIPTTHREADID_ALL, nullptr, 0);
        });
    // An object the page left behind must not reach this call's locals.
    state->send_out = nullptr;
    state->client_connected = nullptr;
    if (outcome == PageThread::Outcome::killed) {
        // Objects stored by earlier pages lived in the apartment that is gone.
        application_->drop_objects();
        for (auto& [id, session] : sessions_)
            session.data->values.drop_objects();
    }
    // Once the head is out, a failure can only cut the response short:
    // with the connection closed before its end the client sees it.
    if (streamed.started()) {
        if (outcome == PageThread::Outcome::finished && crash.empty() && !failure)
            streamed.finish(*state);
        return {};
    }
    if (outcome != PageThread::Outcome::finished) {
        return error_response(500, "Internal Server Error",
                              L"<p>The page ran longer than Server.ScriptTimeout (" +
                                  std::to_wstring(state->script_timeout.load()) + L" seconds) and was stopped.</p>");
    }
    if (!crash.empty())
        return error_response(500, "Internal Server Error", L"<p>" + html_encode(crash) + L"</p>");
    if (failure) {
        SourceLine where{address, 0};
        if (failure->line && *failure->line < page.lines.size())
            where = page.lines[*failure->line];
        return error_response(
            500, "Internal Server Error",
            L"<p>The page stopped with a script error.</p>\n<p>File <b>" + html_encode(where.file) + L"</b>, line <b>" +
                std::to_wstring(where.line) + L"</b></p>\n<p>Error <b>" + hex_number(failure->number) + L"</b> (" +
                std::to_wstring(failure->number) + L") from <b>" + html_encode(failure->source) + L"</b>: <b>" +
                html_encode(failure->description.empty() ? L"(the script engine gave no description)"
                                                         : failure->description) +
                L"</b></p>");
    }
    const std::vector<std::wstring> extra_cookies = session_cookies();
    if (!location_of(*state).empty() && location_of(*state).find_first_of(L"\r\n") != std::wstring::npos)
        return error_response(500, "Internal Server Error", L"<p>Response.Redirect was given a line break.</p>");
    try {
        return page_response(*state, extra_cookies, request.method == "HEAD");
    } catch (const Refused& refused) {
        return error_response(500, "Internal Server Error",
                              L"<p>The page's response was refused: " + html_encode(refused.what) +
                                  L" holds a line break or a character a header cannot carry.</p>");
    }
}

}  // namespace corvane::aspdev
