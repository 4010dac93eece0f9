// Every member of FTP and HTTP, called by name as a script calls it, first
// against a scripted server that lets it do real work, then once more per
// platform call that run made, with that one call failing. Each failure must
// raise the member's own error with the platform's reason in it (or be
// shrugged off where the table says so), leave the object usable as the
// table says, and leave no handle open once the object is gone.
//
// A member that starts making a call the table does not know fails here,
// naming both, until its row says what that failure should do.

#include "frame/class_table.h"
#include "component/ftp.h"
#include "component/http.h"
#include "ftp/ftp_errors.h"
#include "http/http_errors.h"
#include "tests/unit/com_test_support.h"
#include "tests/unit/fake_platform.h"
#include "tools/asp_host/test_page.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace corvane {
namespace {

using ::testing::HasSubstr;
using tests::FakePlatform;
using tests::PlatformCall;
using tests::text_variant;

// A code no platform has message text for: descriptions show the code alone.
constexpr DWORD injected_code = 12345;
// Far more calls than any member makes here. Past it the server throws,
// which the member reports as a failure: a path that loops on a fault ends
// the run instead of hanging the test.
constexpr size_t runaway_calls = 5000;

// ---------------------------------------------------------------------------
// The server the members talk to: a small remote tree, file and reply
// bytes, an HTTP response. Calls on a handle that is not open fail as the
// platform fails them, so that an object left holding a dead handle shows.

struct RemoteEntry {
    std::string name;
    bool directory;
    DWORD size;
};

class ScriptedServer {
public:
    explicit ScriptedServer(FakePlatform& fake);

    std::string directory = "/home";
    bool create_directory_fails = false;

private:
    void guard() const
    {
        if (fake_.calls.size() > runaway_calls)
            throw std::runtime_error("runaway member: too many platform calls");
    }
    bool live(HINTERNET handle) const
    {
        const std::vector<HINTERNET> open = fake_.open_handles();
        return handle && std::find(open.begin(), open.end(), handle) != open.end();
    }
    BOOL refuse() { return fake_.fail(ERROR_INVALID_HANDLE); }
    HINTERNET refuse_handle()
    {
        fake_.last_error = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    HINTERNET handle_with(std::string bytes)
    {
        HINTERNET handle = fake_.new_handle();
        pending_[handle] = std::move(bytes);
        return handle;
    }
    std::string resolve(const std::string& path) const;
    void fill(LPVOID record);

    FakePlatform& fake_;
    std::map<std::string, std::vector<RemoteEntry>> tree_;
    std::vector<RemoteEntry> listing_;
    size_t next_ = 0;
    std::map<HINTERNET, std::string> pending_;
};

// Pieces small enough that every read loop goes round more than once.
constexpr size_t read_piece = 5;
const std::string remote_file_bytes = "twelve bytes";
const std::string command_reply = "214 Help OK";
const std::string http_body = "<p>swept</p>";
// Lines ended by NULs, one more NUL at the end, as the platform gives them.
const std::string http_header_block = std::string("HTTP/1.1 200 OK") + '\0' + "Content-Type: text/html" + '\0' +
                                      "X-Sweep: yes" + '\0' + '\0';

ScriptedServer::ScriptedServer(FakePlatform& fake) : fake_(fake)
{
    tree_["/home"] = {{".", true, 0}, {"..", true, 0}, {"a.txt", false, 12}, {"sub", true, 0}};
    tree_["/home/sub"] = {{"b.txt", false, 3}};
    fake.last_response = "226 Transfer complete.";

    fake.on_InternetConnectA = [this](HINTERNET session, auto...) {
        guard();
        return live(session) ? fake_.new_handle() : refuse_handle();
    };
    fake.on_FtpGetCurrentDirectoryA = [this](HINTERNET connection, LPSTR buffer, LPDWORD length) {
        guard();
        if (!live(connection))
            return refuse();
        if (*length <= directory.size()) {
            *length = static_cast<DWORD>(directory.size() + 1);
            return fake_.fail(ERROR_INSUFFICIENT_BUFFER);
        }
        std::memcpy(buffer, directory.c_str(), directory.size() + 1);
        *length = static_cast<DWORD>(directory.size());
        return TRUE;
    };
    fake.on_FtpSetCurrentDirectoryA = [this](HINTERNET connection, LPCSTR path) {
        guard();
        if (!live(connection))
            return refuse();
        directory = resolve(path);
        return TRUE;
    };
    fake.on_FtpFindFirstFileA = [this](HINTERNET connection, LPCSTR, LPWIN32_FIND_DATAA record, DWORD,
                                       DWORD_PTR) {
        guard();
        if (!live(connection))
            return refuse_handle();
        listing_ = tree_[directory];
        next_ = 0;
        if (listing_.empty()) {
            fake_.last_error = ERROR_NO_MORE_FILES;
            return static_cast<HINTERNET>(nullptr);
        }
        fill(record);
        return fake_.new_handle();
    };
    fake.on_InternetFindNextFileA = [this](HINTERNET search, LPVOID record) {
        guard();
        if (!live(search))
            return refuse();
        if (next_ >= listing_.size())
            return fake_.fail(ERROR_NO_MORE_FILES);
        fill(record);
        return TRUE;
    };
    fake.on_InternetReadFile = [this](HINTERNET handle, LPVOID buffer, DWORD wanted, LPDWORD bytes_read) {
        guard();
        if (!live(handle))
            return refuse();
        std::string& bytes = pending_[handle];
        const size_t count = std::min({read_piece, static_cast<size_t>(wanted), bytes.size()});
        std::memcpy(buffer, bytes.data(), count);
        bytes.erase(0, count);
        *bytes_read = static_cast<DWORD>(count);
        return TRUE;
    };
    fake.on_FtpCommandA = [this](HINTERNET connection, BOOL expect_response, DWORD, LPCSTR, DWORD_PTR,
                                 HINTERNET* data_channel) {
        guard();
        if (!live(connection))
            return refuse();
        if (data_channel)
            *data_channel = expect_response ? handle_with(command_reply) : nullptr;
        return TRUE;
    };
    fake.on_FtpOpenFileA = [this](HINTERNET connection, auto...) {
        guard();
        // The reply the file's close will collect, whatever came before.
        fake_.last_response = "226 Transfer complete.";
        return live(connection) ? handle_with(remote_file_bytes) : refuse_handle();
    };
    fake.on_FtpGetFileSize = [this](HINTERNET file, LPDWORD size_high) -> DWORD {
        guard();
        if (!live(file)) {
            refuse();
            return INVALID_FILE_SIZE;
        }
        if (size_high)
            *size_high = 0;
        return static_cast<DWORD>(remote_file_bytes.size());
    };
    auto connection_call = [this](HINTERNET connection, auto...) {
        guard();
        return live(connection) ? TRUE : refuse();
    };
    fake.on_FtpRemoveDirectoryA = connection_call;
    fake.on_FtpRenameFileA = connection_call;
    fake.on_FtpDeleteFileA = connection_call;
    fake.on_FtpCreateDirectoryA = [this](HINTERNET connection, LPCSTR) {
        guard();
        if (!live(connection))
            return refuse();
        if (!create_directory_fails)
            return TRUE;
        fake_.last_response = "550 Create directory operation failed.";
        return fake_.fail(12003);
    };

    fake.on_HttpOpenRequestA = [this](HINTERNET connection, auto...) {
        guard();
        return live(connection) ? fake_.new_handle() : refuse_handle();
    };
    fake.on_HttpSendRequestA = [this](HINTERNET request, auto...) {
        guard();
        if (!live(request))
            return refuse();
        pending_[request] = http_body;
        return TRUE;
    };
    fake.on_HttpQueryInfoA = [this](HINTERNET request, DWORD level, LPVOID buffer, LPDWORD length, LPDWORD) {
        guard();
        if (!live(request))
            return refuse();
        if (level == (HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER)) {
            if (*length < sizeof(DWORD))
                return fake_.fail(ERROR_INSUFFICIENT_BUFFER);
            const DWORD status = 200;
            std::memcpy(buffer, &status, sizeof status);
            *length = sizeof status;
            return TRUE;
        }
        if (*length < http_header_block.size()) {
            *length = static_cast<DWORD>(http_header_block.size());
            return fake_.fail(ERROR_INSUFFICIENT_BUFFER);
        }
        std::memcpy(buffer, http_header_block.data(), http_header_block.size());
        *length = static_cast<DWORD>(http_header_block.size() - 1);
        return TRUE;
    };
}

std::string ScriptedServer::resolve(const std::string& path) const
{
    std::string full = path.starts_with('/') ? path : directory + "/" + path;
    std::string result;
    for (char character : full) {
        if (character != '/' || result.empty() || result.back() != '/')
            result += character;
    }
    if (result.size() > 1 && result.back() == '/')
        result.pop_back();
    return result;
}

void ScriptedServer::fill(LPVOID record)
{
    auto* data = static_cast<WIN32_FIND_DATAA*>(record);
    *data = WIN32_FIND_DATAA{};
    const RemoteEntry& entry = listing_[next_++];
    std::strncpy(data->cFileName, entry.name.c_str(), sizeof data->cFileName - 1);
    data->dwFileAttributes = entry.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    data->nFileSizeLow = entry.size;
    // 2023-05-01, so that the time texts come from real conversions.
    const ULONGLONG time = 133273152000000000ULL;
    for (FILETIME* stamp : {&data->ftCreationTime, &data->ftLastAccessTime, &data->ftLastWriteTime}) {
        stamp->dwLowDateTime = static_cast<DWORD>(time & 0xFFFFFFFF);
        stamp->dwHighDateTime = static_cast<DWORD>(time >> 32);
    }
}

// ---------------------------------------------------------------------------
// Calls by name, as a script makes them.

struct Outcome {
    HRESULT result = S_OK;
    tests::RaisedError error;
    Variant value;
};

Outcome call_by_name(IDispatch* object, const wchar_t* name, WORD kind, std::vector<Variant>& arguments)
{
    Outcome outcome;
    std::wstring text(name);
    LPOLESTR names[] = {text.data()};
    DISPID id = DISPID_UNKNOWN;
    outcome.result = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(outcome.result)) {
        outcome.error.number = outcome.result;
        return outcome;
    }
    std::vector<VARIANT> reversed;
    for (auto argument = arguments.rbegin(); argument != arguments.rend(); ++argument)
        reversed.push_back(*argument->get());
    const bool let = kind == DISPATCH_PROPERTYPUT;
    DISPID put_id = DISPID_PROPERTYPUT;
    DISPPARAMS parameters{reversed.data(), let ? &put_id : nullptr, static_cast<UINT>(reversed.size()),
                          let ? 1u : 0u};
    EXCEPINFO exception{};
    outcome.result = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &parameters,
                                    let ? nullptr : outcome.value.put(), &exception, nullptr);
    if (outcome.result == DISP_E_EXCEPTION) {
        if (exception.pfnDeferredFillIn)
            exception.pfnDeferredFillIn(&exception);
        Bstr source, description, help_file;
        *source.put() = exception.bstrSource;
        *description.put() = exception.bstrDescription;
        *help_file.put() = exception.bstrHelpFile;
        outcome.error = {exception.scode, std::wstring(source.view()), std::wstring(description.view())};
    } else if (FAILED(outcome.result)) {
        outcome.error = tests::error_of(outcome.result);
    }
    return outcome;
}

Outcome call_by_name(IDispatch* object, const wchar_t* name, WORD kind)
{
    std::vector<Variant> none;
    return call_by_name(object, name, kind, none);
}

std::string hex(HRESULT number)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(number));
    return text;
}

std::string narrow(std::wstring_view text)
{
    return to_utf8_unescaped(text);
}

template <class... Values>
std::vector<Variant> variants(Values... values)
{
    std::vector<Variant> list;
    (list.push_back(std::move(values)), ...);
    return list;
}

Variant bool_variant(bool value)
{
    Variant result;
    V_VT(result.get()) = VT_BOOL;
    V_BOOL(result.get()) = value ? VARIANT_TRUE : VARIANT_FALSE;
    return result;
}

Variant long_variant(LONG value)
{
    Variant result;
    V_VT(result.get()) = VT_I4;
    V_I4(result.get()) = value;
    return result;
}

// ---------------------------------------------------------------------------
// One run: a fresh platform, server and object.

std::filesystem::path local_root()
{
    return std::filesystem::temp_directory_path() / ("corvane-sweep-" + std::to_string(GetCurrentProcessId()));
}

struct Session {
    FakePlatform fake;
    ScriptedServer server{fake};
    ComPtr<IAspTestPage> page;
    ComPtr<IDispatch> object;

    void release()
    {
        object.reset();
        page.reset();
    }
};

bool succeeded(const Outcome& outcome, const char* what)
{
    EXPECT_EQ(outcome.result, S_OK) << what << ": " << narrow(outcome.error.description);
    return outcome.result == S_OK;
}

bool let(Session& session, const wchar_t* name, Variant value)
{
    std::vector<Variant> arguments = variants(std::move(value));
    return succeeded(call_by_name(session.object.get(), name, DISPATCH_PROPERTYPUT, arguments), "setup");
}

bool new_ftp(Session& session)
{
    session.object = create_instance<FTP>().query<IDispatch>();
    return true;
}

bool ftp_ready(Session& session)
{
    return new_ftp(session) && let(session, L"URL", text_variant(L"ftp.example")) &&
           let(session, L"Username", text_variant(L"tester"));
}

bool ftp_connected(Session& session)
{
    return ftp_ready(session) &&
           succeeded(call_by_name(session.object.get(), L"OpenConnection", DISPATCH_METHOD), "setup");
}

std::vector<Variant> page_context(Session& session)
{
    Variant context;
    V_VT(context.get()) = VT_DISPATCH;
    V_DISPATCH(context.get()) = asp_host::context_of(session.page.get()).detach();
    return variants(std::move(context));
}

bool bind_page(Session& session)
{
    session.page = asp_host::new_page();
    for (auto [name, value] : {std::pair{L"SERVER_NAME", L"www.example"}, std::pair{L"SERVER_PORT", L"80"},
                               std::pair{L"SCRIPT_NAME", L"/browse.asp"}})
        session.page->SetServerVariable(Bstr(name).get(), Bstr(value).get());
    std::vector<Variant> arguments = page_context(session);
    return succeeded(call_by_name(session.object.get(), L"OnStartPage", DISPATCH_METHOD, arguments), "setup");
}

bool ftp_page(Session& session)
{
    return ftp_connected(session) && bind_page(session);
}

bool ftp_page_browsing(Session& session)
{
    if (!ftp_page(session))
        return false;
    session.page->SetQueryString(Bstr(L"d").get(), Bstr(L"/home/sub").get());
    return true;
}

bool ftp_page_file_request(Session& session)
{
    if (!ftp_page(session))
        return false;
    session.page->SetQueryString(Bstr(L"d").get(), Bstr(L"/home").get());
    session.page->SetQueryString(Bstr(L"f").get(), Bstr(L"/home/a.txt").get());
    return true;
}

bool ftp_unbound_page(Session& session)
{
    session.page = asp_host::new_page();
    return new_ftp(session);
}

bool ftp_remote_folders_exist(Session& session)
{
    session.server.create_directory_fails = true;
    return ftp_connected(session);
}

bool new_http(Session& session)
{
    session.object = create_instance<HTTP>().query<IDispatch>();
    return true;
}

bool http_with_url(Session& session)
{
    return new_http(session) && let(session, L"URL", text_variant(L"http://www.example/sweep.html"));
}

// The download makes the local folder when it is missing: a fresh one
// each run, so that every run makes it.
std::vector<Variant> get_directory_arguments(Session&)
{
    const auto target = local_root() / "target";
    std::filesystem::remove_all(target);
    std::filesystem::create_directories(local_root());
    return variants(text_variant(L"/home"), text_variant(target.wstring()), bool_variant(true), bool_variant(true));
}

// A local tree of one file and one folder holding another.
std::vector<Variant> put_directory_arguments(Session&)
{
    const auto source = local_root() / "source";
    std::filesystem::create_directories(source / "sub");
    for (const auto& file : {source / "a.txt", source / "sub" / "b.txt"}) {
        if (FILE* stream = _wfopen(file.c_str(), L"wb")) {
            std::fputs("x", stream);
            std::fclose(stream);
        }
    }
    return variants(text_variant(source.wstring()), text_variant(L"/home/up"), bool_variant(true));
}

std::vector<Variant> put_file_arguments(Session&)
{
    std::filesystem::create_directories(local_root());
    const auto source = local_root() / "put.txt";
    if (FILE* stream = _wfopen(source.c_str(), L"wb")) {
        std::fputs("put", stream);
        std::fclose(stream);
    }
    return variants(text_variant(source.wstring()), text_variant(L"/home/up/a.txt"));
}

// ---------------------------------------------------------------------------
// The table.

enum class After {
    nothing_to_check,
    ftp_connected,     // Directory still asks the server
    ftp_disconnected,  // Directory refuses for want of a connection; OpenConnection works again
    http_retries,      // a later OpenConnection really asks again and succeeds
};

struct Expectation {
    bool tolerated = false;  // the member shrugs the failure off and succeeds
    HRESULT number = S_OK;
    std::wstring message;    // the description starts with it
    std::wstring procedure;  // "<procedure> error code: <code>" follows; empty: no platform text
    std::optional<After> after;
};

Expectation raises(HRESULT number, std::wstring message, std::wstring procedure, std::optional<After> after = {})
{
    return {false, number, std::move(message), std::move(procedure), after};
}

const Expectation tolerated = [] {
    Expectation shrugged_off;
    shrugged_off.tolerated = true;
    return shrugged_off;
}();

struct Rule {
    std::string function;
    std::optional<size_t> occurrence;  // among the run's calls to the function; none: all of them
    Expectation expect;
};

struct Member {
    std::string label;
    const wchar_t* name;
    WORD kind;
    bool (*setup)(Session&);
    std::vector<Variant> (*arguments)(Session&) = nullptr;
    // A failing call among own_calls raises default_error; rules say
    // otherwise per function.
    Expectation default_error = {};
    std::vector<std::string> own_calls = {};
    std::vector<Rule> rules = {};
    After after_failure = After::nothing_to_check;
};

constexpr WORD get = DISPATCH_PROPERTYGET;
constexpr WORD let_kind = DISPATCH_PROPERTYPUT;
constexpr WORD method = DISPATCH_METHOD;

std::wstring listing_next_message()
{
    return L"Error retrieving directory listing.(2)(" + std::to_wstring(injected_code) + L")(0)";
}

const Rule directory_read{"FtpGetCurrentDirectoryA", {},
                          raises(ftp::errors::retrieve_directory.number, L"Error retrieving directory.", L"Directory")};
const Rule directory_change{"FtpSetCurrentDirectoryA", {},
                            raises(ftp::errors::set_directory.number, L"Error setting directory.", L"Directory")};
const Rule listing_first{"FtpFindFirstFileA", {},
                         raises(ftp::errors::listing_first.number, L"Error retrieving directory listing.(1)",
                                L"GetDirectoryListing")};
const Rule listing_next{"InternetFindNextFileA", {},
                        raises(ftp::errors::listing_next.number, listing_next_message(), L"GetDirectoryListing")};
const Rule listing_close{"InternetCloseHandle", {},
                         raises(ftp::errors::listing_close.number, L"Error retrieving directory listing.(3)",
                                L"GetDirectoryListing")};
// A download's and an upload's steps, the remote file's close included:
// it collects the server's final reply.
Rule file_get(const char* function, std::optional<size_t> occurrence = {})
{
    return {function, occurrence,
            raises(ftp::errors::get_file.number, L"Error getting file from the remote server.",
                   std::string_view(function) == "InternetReadFile" ? L"InternetReadFile" : L"GetFile")};
}
Rule file_put(const char* function)
{
    return {function, {},
            raises(ftp::errors::put_file.number, L"Error putting file to remote server.",
                   std::string_view(function) == "InternetWriteFile" ? L"InternetWriteFile" : L"PutFile")};
}
const std::vector<Rule> file_get_rules = {file_get("FtpOpenFileA"), file_get("InternetReadFile"),
                                          file_get("InternetCloseHandle")};
const std::vector<Rule> file_put_rules = {directory_read, directory_change, file_put("FtpOpenFileA"),
                                          file_put("InternetWriteFile"), file_put("InternetCloseHandle")};
// A subfolder that cannot be made most often exists already; the descent
// into it says so if not.
std::vector<Rule> tree_put_rules()
{
    std::vector<Rule> rules = file_put_rules;
    rules.push_back({"FtpCreateDirectoryA", {}, tolerated});
    return rules;
}
const Rule file_open{"FtpOpenFileA", {},
                     raises(ftp::errors::open_file.number, L"Error attempting to open file.", L"FtpOpenFile")};
const Rule file_read{"InternetReadFile", {},
                     raises(ftp::errors::read_file.number, L"Error reading file from the remote server.",
                            L"InternetReadFile")};
// The close reads the server's final reply: without it, nobody knows the
// file arrived whole.
const Rule file_close{"InternetCloseHandle", {},
                      raises(ftp::errors::read_file.number, L"Error reading file from the remote server.",
                             L"InternetCloseHandle")};

// Lose only text: a message, a server reply, a time.
const std::vector<Rule> text_and_time_rules = {
    {"FormatMessageA", {}, tolerated},
    {"GetModuleHandleA", {}, tolerated},
    {"InternetGetLastResponseInfoA", {}, tolerated},
    {"FileTimeToLocalFileTime", {}, tolerated},
    {"FileTimeToSystemTime", {}, tolerated},
};

// What a released object still does: close its handles, unheard.
const std::vector<Rule> release_rules = {{"InternetCloseHandle", {}, tolerated}};

std::vector<Member> ftp_members()
{
    auto property = [](const char* label, const wchar_t* name, WORD kind,
                       std::vector<Variant> (*arguments)(Session&) = nullptr) {
        return Member{.label = label, .name = name, .kind = kind, .setup = new_ftp, .arguments = arguments};
    };
    return {
        Member{.label = "FTP.OnStartPage", .name = L"OnStartPage", .kind = method, .setup = ftp_unbound_page,
               .arguments = page_context},
        property("FTP.Version get", L"Version", get),
        property("FTP.URL let", L"URL", let_kind, [](Session&) { return variants(text_variant(L"ftp.example")); }),
        property("FTP.URL get", L"URL", get),
        property("FTP.Username let", L"Username", let_kind, [](Session&) { return variants(text_variant(L"u")); }),
        property("FTP.Username get", L"Username", get),
        property("FTP.Password let", L"Password", let_kind, [](Session&) { return variants(text_variant(L"p")); }),
        property("FTP.Password get", L"Password", get),
        property("FTP.Port let", L"Port", let_kind, [](Session&) { return variants(long_variant(2121)); }),
        property("FTP.Port get", L"Port", get),
        property("FTP.Proxy let", L"Proxy", let_kind, [](Session&) { return variants(text_variant(L"proxy:8080")); }),
        property("FTP.Proxy get", L"Proxy", get),
        property("FTP.Passive let", L"Passive", let_kind, [](Session&) { return variants(bool_variant(true)); }),
        property("FTP.Passive get", L"Passive", get),
        property("FTP.TransferType let", L"TransferType", let_kind,
                 [](Session&) { return variants(long_variant(TransferBinary)); }),
        Member{.label = "FTP.OpenConnection", .name = L"OpenConnection", .kind = method, .setup = ftp_ready,
               .default_error = raises(ftp::errors::open_connection.number, L"Error opening FTP connection.",
                                       L"OpenConnection"),
               .own_calls = {"InternetOpenA", "InternetSetOptionA", "InternetConnectA"},
               .after_failure = After::ftp_disconnected},
        // A connection that would not close is still there; once it is
        // closed, a session that would not follow is of no use.
        Member{.label = "FTP.CloseConnection", .name = L"CloseConnection", .kind = method, .setup = ftp_connected,
               .rules = {{"InternetCloseHandle", 0,
                          raises(ftp::errors::close_connection.number, L"Error closing connection to remote server.",
                                 L"CloseConnection", After::ftp_connected)},
                         {"InternetCloseHandle", 1,
                          raises(ftp::errors::close_connection.number, L"Error closing connection to remote server.",
                                 L"CloseConnection", After::ftp_disconnected)}}},
        Member{.label = "FTP.PrintClient", .name = L"PrintClient", .kind = method, .setup = ftp_page_browsing,
               .rules = {directory_read, directory_change, listing_first, listing_next, listing_close},
               .after_failure = After::ftp_connected},
        Member{.label = "FTP.PrintClient (file requested)", .name = L"PrintClient", .kind = method,
               .setup = ftp_page_file_request,
               .rules = {directory_read, directory_change, file_open, file_read, file_close},
               .after_failure = After::ftp_connected},
        Member{.label = "FTP.DownloadFileToClient", .name = L"DownloadFileToClient", .kind = method,
               .setup = ftp_page, .arguments = [](Session&) { return variants(text_variant(L"/home/a.txt")); },
               .rules = {file_open, file_read, file_close},
               .after_failure = After::ftp_connected},
        // The channel's close comes after the whole reply.
        Member{.label = "FTP.ExecuteCommand", .name = L"ExecuteCommand", .kind = method, .setup = ftp_connected,
               .arguments = [](Session&) { return variants(text_variant(L"HELP"), bool_variant(true)); },
               .default_error = raises(ftp::errors::execute_command.number, L"Error executing command on FTP server.",
                                       L"ExecuteCommand"),
               .own_calls = {"FtpCommandA", "InternetReadFile"},
               .rules = {{"InternetCloseHandle", {}, tolerated}},
               .after_failure = After::ftp_connected},
        Member{.label = "FTP.GetLastResponse", .name = L"GetLastResponse", .kind = method, .setup = ftp_connected},
        Member{.label = "FTP.Directory get", .name = L"Directory", .kind = get, .setup = ftp_connected,
               .rules = {directory_read}, .after_failure = After::ftp_connected},
        Member{.label = "FTP.Directory let", .name = L"Directory", .kind = let_kind, .setup = ftp_connected,
               .arguments = [](Session&) { return variants(text_variant(L"sub")); },
               .rules = {directory_change}, .after_failure = After::ftp_connected},
        Member{.label = "FTP.Files", .name = L"Files", .kind = method, .setup = ftp_connected,
               .rules = {listing_first, listing_next, listing_close}, .after_failure = After::ftp_connected},
        Member{.label = "FTP.GetDirectoryListing", .name = L"GetDirectoryListing", .kind = method,
               .setup = ftp_connected, .arguments = [](Session&) { return variants(long_variant(63)); },
               .rules = {listing_first, listing_next, listing_close}, .after_failure = After::ftp_connected},
        Member{.label = "FTP.CreateDirectory", .name = L"CreateDirectory", .kind = method, .setup = ftp_connected,
               .arguments = [](Session&) { return variants(text_variant(L"new")); },
               .default_error = raises(ftp::errors::create_directory.number, L"Error creating directory.",
                                       L"CreateDirectory"),
               .own_calls = {"FtpCreateDirectoryA"}, .after_failure = After::ftp_connected},
        Member{.label = "FTP.RemoveDirectory", .name = L"RemoveDirectory", .kind = method, .setup = ftp_connected,
               .arguments = [](Session&) { return variants(text_variant(L"old")); },
               .default_error = raises(ftp::errors::remove_directory.number, L"Error removing directory.",
                                       L"RemoveDirectory"),
               .own_calls = {"FtpRemoveDirectoryA"}, .after_failure = After::ftp_connected},
        Member{.label = "FTP.RenameFile", .name = L"RenameFile", .kind = method, .setup = ftp_connected,
               .arguments = [](Session&) { return variants(text_variant(L"a.txt"), text_variant(L"c.txt")); },
               .default_error = raises(ftp::errors::rename_file.number, L"Error renaming file/directory.",
                                       L"RenameFile"),
               .own_calls = {"FtpRenameFileA"}, .after_failure = After::ftp_connected},
        Member{.label = "FTP.GetDirectory", .name = L"GetDirectory", .kind = method, .setup = ftp_connected,
               .arguments = get_directory_arguments,
               // The closes of /home's listing, a.txt, sub's listing, b.txt.
               .rules = {directory_read, directory_change, listing_first, listing_next, listing_close,
                         file_get("FtpOpenFileA"), file_get("InternetReadFile"), file_get("InternetCloseHandle", 1),
                         file_get("InternetCloseHandle", 3),
                         {"GetFullPathNameW", {},
                          raises(ftp::errors::get_file.number, L"Error getting file from the remote server.",
                                 L"GetDirectory")}},
               .after_failure = After::ftp_connected},
        Member{.label = "FTP.PutDirectory", .name = L"PutDirectory", .kind = method, .setup = ftp_connected,
               .arguments = put_directory_arguments,
               .rules = tree_put_rules(),
               .after_failure = After::ftp_connected},
        Member{.label = "FTP.PutDirectory (remote folders exist)", .name = L"PutDirectory", .kind = method,
               .setup = ftp_remote_folders_exist, .arguments = put_directory_arguments,
               .rules = tree_put_rules(),
               .after_failure = After::ftp_connected},
        Member{.label = "FTP.GetFile", .name = L"GetFile", .kind = method, .setup = ftp_connected,
               .arguments = [](Session&) {
                   std::filesystem::create_directories(local_root());
                   return variants(text_variant(L"/home/a.txt"), text_variant((local_root() / "got.txt").wstring()),
                                   bool_variant(true));
               },
               .rules = file_get_rules, .after_failure = After::ftp_connected},
        Member{.label = "FTP.PutFile", .name = L"PutFile", .kind = method, .setup = ftp_connected,
               .arguments = put_file_arguments, .rules = file_put_rules, .after_failure = After::ftp_connected},
        Member{.label = "FTP.DeleteFile", .name = L"DeleteFile", .kind = method, .setup = ftp_connected,
               .arguments = [](Session&) { return variants(text_variant(L"a.txt")); },
               .default_error = raises(ftp::errors::delete_file.number, L"Error deleting file from the remote server.",
                                       L"DeleteFile"),
               .own_calls = {"FtpDeleteFileA"}, .after_failure = After::ftp_connected},
    };
}

std::vector<Member> http_members()
{
    auto property = [](const char* label, const wchar_t* name, WORD kind,
                       std::vector<Variant> (*arguments)(Session&) = nullptr) {
        return Member{.label = label, .name = name, .kind = kind, .setup = http_with_url, .arguments = arguments};
    };
    const std::wstring opening = L"OpenConnection";
    const std::wstring request = L"GetString";
    return {
        property("HTTP.URL let", L"URL", let_kind, [](Session&) { return variants(text_variant(L"http://h/p")); }),
        property("HTTP.ServerName get", L"ServerName", get),
        property("HTTP.Path get", L"Path", get),
        property("HTTP.Version get", L"Version", get),
        property("HTTP.Content get", L"Content", get),
        property("HTTP.Headers get", L"Headers", get),
        Member{.label = "HTTP.OpenConnection", .name = L"OpenConnection", .kind = method, .setup = http_with_url,
               .default_error = raises(http::errors::open_internet.number, L"Error opening connection to the internet.",
                                       opening),
               .own_calls = {"InternetOpenA", "InternetSetOptionA"},
               .rules = {{"InternetConnectA", {},
                          raises(http::errors::open_connection.number, L"Error opening connection to remote server.",
                                 opening)},
                         // Three timeouts on the session, then the same three on the connection.
                         {"InternetSetOptionA", 3,
                          raises(http::errors::open_connection.number, L"Error opening connection to remote server.",
                                 opening)},
                         {"InternetSetOptionA", 4,
                          raises(http::errors::open_connection.number, L"Error opening connection to remote server.",
                                 opening)},
                         {"InternetSetOptionA", 5,
                          raises(http::errors::open_connection.number, L"Error opening connection to remote server.",
                                 opening)},
                         {"HttpOpenRequestA", {},
                          raises(http::errors::open_request.number, L"Error opening request to remote server.",
                                 opening)},
                         {"HttpSendRequestA", {},
                          raises(http::errors::send_request.number,
                                 L"Error opening request received from remote server.", request)},
                         {"HttpQueryInfoA", 0,
                          raises(http::errors::query_headers.number, L"Error getting information out of request(1).",
                                 request)},
                         {"HttpQueryInfoA", 1,
                          raises(http::errors::query_status.number, L"Error getting information out of request(2).",
                                 request)},
                         // The reason phrase: without it the status code still tells.
                         {"HttpQueryInfoA", 2, tolerated},
                         {"InternetReadFile", {},
                          raises(http::errors::read_body.number, L"Error getting information out of request.",
                                 request)},
                         {"InternetCloseHandle", {},
                          raises(http::errors::close_connection.number, L"Error closing connection.", request)}},
               .after_failure = After::http_retries},
    };
}

// ---------------------------------------------------------------------------
// The sweep.

const Expectation* find_rule(const std::vector<Rule>& rules, const std::string& function, size_t occurrence)
{
    for (const Rule& rule : rules) {
        if (rule.function == function && rule.occurrence == occurrence)
            return &rule.expect;
    }
    for (const Rule& rule : rules) {
        if (rule.function == function && !rule.occurrence)
            return &rule.expect;
    }
    return nullptr;
}

const Expectation* expectation_for(const Member& member, const std::string& function, size_t occurrence)
{
    if (const Expectation* found = find_rule(member.rules, function, occurrence))
        return found;
    if (std::find(member.own_calls.begin(), member.own_calls.end(), function) != member.own_calls.end())
        return &member.default_error;
    return find_rule(text_and_time_rules, function, occurrence);
}

size_t occurrence_of(const std::vector<PlatformCall>& calls, size_t index)
{
    size_t before = 0;
    for (size_t earlier = 0; earlier < index; ++earlier)
        before += calls[earlier].function == calls[index].function;
    return before;
}

std::wstring_view source_of(const Member& member)
{
    return member.label.starts_with("HTTP") ? http::errors::source : ftp::errors::source;
}

void check_raised(const Member& member, const Expectation& expected, const Outcome& outcome)
{
    if (expected.tolerated) {
        EXPECT_EQ(outcome.result, S_OK) << "should have succeeded, raised " << hex(outcome.error.number) << " "
                                        << narrow(outcome.error.description);
        return;
    }
    if (outcome.result == S_OK) {
        ADD_FAILURE() << "reported success; should have raised " << hex(expected.number) << " "
                      << narrow(expected.message);
        return;
    }
    EXPECT_EQ(hex(outcome.error.number), hex(expected.number)) << narrow(outcome.error.description);
    EXPECT_EQ(narrow(outcome.error.source), narrow(source_of(member)));
    EXPECT_TRUE(outcome.error.description.starts_with(expected.message))
        << "description: " << narrow(outcome.error.description) << "\nexpected start: " << narrow(expected.message);
    if (!expected.procedure.empty()) {
        EXPECT_THAT(narrow(outcome.error.description),
                    HasSubstr(narrow(expected.procedure) + " error code: " + std::to_string(injected_code)));
    }
}

void check_state(Session& session, After after)
{
    IDispatch* object = session.object.get();
    switch (after) {
    case After::nothing_to_check:
        return;
    case After::ftp_connected: {
        const Outcome directory = call_by_name(object, L"Directory", get);
        EXPECT_EQ(directory.result, S_OK) << "connection not usable afterwards: "
                                          << narrow(directory.error.description);
        return;
    }
    case After::ftp_disconnected: {
        EXPECT_EQ(hex(call_by_name(object, L"Directory", get).error.number),
                  hex(ftp::errors::not_connected.number))
            << "still counts as connected";
        if (!succeeded(call_by_name(object, L"OpenConnection", method), "a later OpenConnection"))
            return;
        EXPECT_TRUE(succeeded(call_by_name(object, L"Directory", get), "Directory after reconnecting"));
        return;
    }
    case After::http_retries: {
        const size_t sent = session.fake.count("HttpSendRequestA");
        if (!succeeded(call_by_name(object, L"OpenConnection", method), "a later OpenConnection"))
            return;
        EXPECT_EQ(session.fake.count("HttpSendRequestA"), sent + 1) << "the later OpenConnection did not ask again";
        return;
    }
    }
}

// No handle outlives the object, save one the platform itself refused to
// close when told to fail that very close.
void check_handles(const FakePlatform& fake, const PlatformCall* failed_close)
{
    std::vector<std::string> open;
    for (HINTERNET handle : fake.open_handles())
        open.push_back(FakePlatform::handle_name(handle));
    if (failed_close && failed_close->function == "InternetCloseHandle" && !failed_close->arguments.empty())
        std::erase(open, failed_close->arguments[0]);
    EXPECT_THAT(open, ::testing::IsEmpty()) << "handles left open";
}

void clean_local_files()
{
    std::error_code ignored;
    std::filesystem::remove_all(local_root(), ignored);
}

enum class Phase { member, release };

struct Recording {
    std::vector<PlatformCall> member_calls;
    std::vector<PlatformCall> release_calls;
};

// The successful path, recorded: the member's calls, then the release's.
std::optional<Recording> record_success(const Member& member)
{
    Session session;
    if (!member.setup(session))
        return std::nullopt;
    std::vector<Variant> arguments = member.arguments ? member.arguments(session) : std::vector<Variant>{};
    session.fake.calls.clear();
    Outcome outcome = call_by_name(session.object.get(), member.name, member.kind, arguments);
    if (!succeeded(outcome, "the successful path"))
        return std::nullopt;
    Recording recording;
    recording.member_calls = session.fake.calls;
    outcome.value = Variant();
    session.fake.calls.clear();
    session.release();
    recording.release_calls = session.fake.calls;
    check_handles(session.fake, nullptr);
    return recording;
}

void run_with_failure(const Member& member, Phase phase, size_t index, const PlatformCall& failing,
                      const Expectation& expected)
{
    Session session;
    if (!member.setup(session))
        return;
    std::vector<Variant> arguments = member.arguments ? member.arguments(session) : std::vector<Variant>{};
    session.fake.calls.clear();
    if (phase == Phase::member)
        session.fake.fail_call_index = index;
    Outcome outcome = call_by_name(session.object.get(), member.name, member.kind, arguments);

    auto injected_as_recorded = [&] {
        const std::vector<PlatformCall>& calls = session.fake.calls;
        const bool same_path = index < calls.size() && calls[index].function == failing.function;
        EXPECT_TRUE(same_path) << "the run took another path than the successful one before its call " << index;
        EXPECT_EQ(session.fake.failures_injected(), 1u)
            << "FakePlatform::" << failing.function << " does not fail when told to";
        return same_path && session.fake.failures_injected() == 1;
    };
    if (phase == Phase::member) {
        if (!injected_as_recorded())
            return;
        const PlatformCall failed = session.fake.calls[index];
        check_raised(member, expected, outcome);
        outcome.value = Variant();
        if (!expected.tolerated)
            check_state(session, expected.after.value_or(member.after_failure));
        session.release();
        check_handles(session.fake, &failed);
        return;
    }
    if (!succeeded(outcome, "the member before its release"))
        return;
    outcome.value = Variant();
    session.fake.calls.clear();
    session.fake.fail_call_index = index;
    session.release();
    if (!injected_as_recorded())
        return;
    check_handles(session.fake, &session.fake.calls[index]);
}

// Every listed call is one the member makes: a row cannot outlive its path.
void check_rows_are_current(const Member& member, const std::vector<PlatformCall>& calls)
{
    auto made = [&](const std::string& function) {
        return std::any_of(calls.begin(), calls.end(),
                           [&](const PlatformCall& call) { return call.function == function; });
    };
    for (const std::string& function : member.own_calls) {
        EXPECT_TRUE(made(function)) << member.label << " lists " << function << ", which it never calls";
    }
    for (const Rule& rule : member.rules) {
        EXPECT_TRUE(made(rule.function)) << member.label << " has a rule for " << rule.function
                                         << ", which it never calls";
    }
}

size_t sweep(const Member& member)
{
    SCOPED_TRACE(member.label);
    const std::optional<Recording> recording = record_success(member);
    if (!recording)
        return 0;
    check_rows_are_current(member, recording->member_calls);

    size_t combinations = 0;
    for (Phase phase : {Phase::member, Phase::release}) {
        const auto& calls = phase == Phase::member ? recording->member_calls : recording->release_calls;
        for (size_t index = 0; index < calls.size(); ++index) {
            const std::string& function = calls[index].function;
            if (function == "GetLastError")
                continue;
            const size_t occurrence = occurrence_of(calls, index);
            const Expectation* expected = phase == Phase::member
                                              ? expectation_for(member, function, occurrence)
                                              : find_rule(release_rules, function, occurrence);
            if (!expected) {
                ADD_FAILURE() << member.label << (phase == Phase::release ? " (on release)" : "") << " calls "
                              << function << " (call " << index
                              << "), which the fault sweep table does not know: say in its row what its failure does";
                continue;
            }
            SCOPED_TRACE(function + " #" + std::to_string(occurrence) + " failing (call " + std::to_string(index) +
                         (phase == Phase::release ? " of the release)" : ")"));
            run_with_failure(member, phase, index, calls[index], *expected);
            ++combinations;
        }
    }
    return combinations;
}

TEST(FaultSweep, EveryPlatformCallOfEveryMemberFailsSoundly)
{
    clean_local_files();
    size_t combinations = 0;
    for (const auto& members : {ftp_members(), http_members()}) {
        for (const Member& member : members)
            combinations += sweep(member);
    }
    clean_local_files();
    std::cout << "fault sweep: " << combinations << " member x call combinations" << std::endl;
    RecordProperty("combinations", static_cast<int>(combinations));
    EXPECT_GT(combinations, 0u);
}

}  // namespace
}  // namespace corvane
