// The HTTP object's request settings and response members against our
// loopback servers and proxy, called by name as a script calls them.

#include <winsock2.h>
#include <windows.h>

#include "http/http_errors.h"
#include "tests/integration/automation.h"
#include "tests/integration/loopback_servers.h"
#include "tests/integration/test_certificates.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace corvane::integration {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// The numbers scripts test for; the older ones come from the catalogue.
constexpr HRESULT invalid_setting = static_cast<HRESULT>(0x800403ED);
constexpr HRESULT save_to_file_failed = static_cast<HRESULT>(0x800403EE);
constexpr HRESULT redirect_not_followed = static_cast<HRESULT>(0x800403EF);

std::string all_byte_values()
{
    std::string bytes;
    for (int value = 0; value < 256; ++value)
        bytes += static_cast<char>(value);
    return bytes;
}

std::wstring wide(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::wstring decoded(UINT code_page, const std::string& bytes)
{
    if (bytes.empty())
        return {};
    const int length = MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), length);
    return text;
}

std::string base64(const std::string& bytes)
{
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        unsigned v = 0;
        for (size_t k = 0; k < 3; ++k)
            v = v << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k)
            out += k <= n ? alphabet[(v >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

// A byte array as a script passes one (VT_ARRAY | VT_UI1).
Value byte_array(const std::string& bytes)
{
    Value value;
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    void* data = nullptr;
    if (array && !bytes.empty() && SUCCEEDED(SafeArrayAccessData(array, &data))) {
        std::memcpy(data, bytes.data(), bytes.size());
        SafeArrayUnaccessData(array);
    }
    V_VT(value.get()) = VT_ARRAY | VT_UI1;
    V_ARRAY(value.get()) = array;
    return value;
}

// The bytes of a VT_ARRAY | VT_UI1 value; nothing when it is not one.
std::optional<std::string> bytes_of(const Value& value)
{
    if (value.type() != (VT_ARRAY | VT_UI1) || !V_ARRAY(value.get()) || SafeArrayGetDim(V_ARRAY(value.get())) != 1)
        return std::nullopt;
    SAFEARRAY* array = V_ARRAY(value.get());
    LONG low = 0;
    LONG high = -1;
    SafeArrayGetLBound(array, 1, &low);
    SafeArrayGetUBound(array, 1, &high);
    std::string bytes(static_cast<size_t>(high - low + 1), '\0');
    void* data = nullptr;
    if (!bytes.empty()) {
        if (FAILED(SafeArrayAccessData(array, &data)))
            return std::nullopt;
        std::memcpy(bytes.data(), data, bytes.size());
        SafeArrayUnaccessData(array);
    }
    return bytes;
}

std::vector<RecordedRequest> requests_for(LoopbackServer& server, const std::string& path)
{
    std::vector<RecordedRequest> found;
    for (RecordedRequest& request : server.requests())
        if (request.path == path)
            found.push_back(std::move(request));
    return found;
}

std::vector<std::wstring> header_lines(const Automation& http)
{
    std::vector<std::wstring> lines;
    for (const Value& entry : Automation(http.get(L"Headers").object()).for_each()) {
        Automation header(entry.object());
        lines.push_back(header.get(L"Name").text() + L":" + header.get(L"Value").text());
    }
    return lines;
}

long long header_count(const Automation& http)
{
    return Automation(http.get(L"Headers").object()).call(L"Count").integer();
}

class Http2AgainstServers : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        try {
            server = new LoopbackServer(LoopbackServer::start_http());
            other = new LoopbackServer(LoopbackServer::start_http());
        } catch (const std::exception& error) {
            setup_error = error.what();
        }
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
        delete other;
        other = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(server && other) << setup_error; }

    static std::wstring url(const std::string& target, const LoopbackServer* on = nullptr,
                            const std::string& host = "127.0.0.1")
    {
        return wide("http://" + host + ":" + std::to_string((on ? on : server)->port()) + target);
    }

    static Automation object_for(const std::string& target)
    {
        Automation http = Automation::create(L"corvane.HTTP");
        http.put(L"URL", url(target));
        return http;
    }

    static LoopbackServer* server;
    static LoopbackServer* other;
    static std::string setup_error;
};

LoopbackServer* Http2AgainstServers::server = nullptr;
LoopbackServer* Http2AgainstServers::other = nullptr;
std::string Http2AgainstServers::setup_error;

TEST_F(Http2AgainstServers, StatusOfEachResponseAndWhereItEnded)
{
    server->route("/landing", http_response("200 OK", {"X-Hop: last"}, "landed"));
    struct Row {
        std::string target;
        std::string raw;
        bool follow;
        long long status;
        std::wstring status_text;
        std::wstring content;
        std::string final_target;
    };
    const std::vector<Row> rows = {
        {"/s/200", http_response("200 OK", {}, "fine"), true, 200, L"OK", L"fine", "/s/200"},
        {"/s/204", "HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n", true, 204, L"No Content", L"", "/s/204"},
        {"/s/404", http_response("404 Not Found", {}, "missing"), true, 404, L"Not Found", L"missing", "/s/404"},
        {"/s/500", http_response("500 Internal Server Error", {}, "broken"), true, 500, L"Internal Server Error",
         L"broken", "/s/500"},
        {"/s/301", http_response("301 Moved Permanently", {"Location: /landing", "X-Hop: first"}, "moved"), true, 200,
         L"OK", L"landed", "/landing"},
        {"/s/301-kept", http_response("301 Moved Permanently", {"Location: /landing", "X-Hop: first"}, "moved"), false,
         301, L"Moved Permanently", L"moved", "/s/301-kept"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.target + (row.follow ? " followed" : " not followed"));
        server->route(row.target, row.raw);
        Automation http = object_for(row.target);
        http.put(L"FollowRedirects", row.follow);
        http.call(L"OpenConnection");
        EXPECT_EQ(http.get(L"StatusCode").integer(), row.status);
        EXPECT_EQ(http.get(L"StatusText").text(), row.status_text);
        EXPECT_EQ(http.get(L"Content").text(), row.content);
        EXPECT_EQ(http.get(L"FinalURL").text(), url(row.final_target));
        const auto lines = header_lines(http);
        if (row.raw.find("X-Hop") != std::string::npos) {
            // Only the response the request ended at.
            EXPECT_THAT(lines, ::testing::Contains(row.follow ? L"X-Hop: last" : L"X-Hop: first"));
            EXPECT_THAT(lines, ::testing::Not(::testing::Contains(row.follow ? L"X-Hop: first" : L"X-Hop: last")));
        }
        if (!row.follow) {
            EXPECT_EQ(Automation(http.get(L"Headers").object()).item(L"location").text(), L" /landing");
        }
    }
}

TEST_F(Http2AgainstServers, RedirectsToAnotherServerAndHopLimit)
{
    // An absolute Location naming another port.
    other->route("/elsewhere", http_response("200 OK", {}, "other server"));
    server->route("/away", http_response("302 Found", {"Location: " + narrow(url("/elsewhere", other))}, ""));
    Automation away = object_for("/away");
    away.call(L"OpenConnection");
    EXPECT_EQ(away.get(L"Content").text(), L"other server");
    EXPECT_EQ(away.get(L"FinalURL").text(), url("/elsewhere", other));

    // Ten redirects are followed; the eleventh is not.
    struct Row {
        int redirects;
        HRESULT error;
    };
    for (const Row row : {Row{10, S_OK}, Row{11, redirect_not_followed}}) {
        SCOPED_TRACE(row.redirects);
        const std::string chain = "/chain" + std::to_string(row.redirects) + "/";
        for (int hop = 0; hop < row.redirects; ++hop)
            server->route(chain + std::to_string(hop),
                          http_response("302 Found", {"Location: " + chain + std::to_string(hop + 1)}, ""));
        server->route(chain + std::to_string(row.redirects), http_response("200 OK", {}, "end of chain"));
        Automation http = object_for(chain + "0");
        const ScriptError error = error_of([&] { http.call(L"OpenConnection"); });
        EXPECT_EQ(error.number, row.error) << narrow(error.description);
        if (row.error == S_OK) {
            EXPECT_EQ(http.get(L"Content").text(), L"end of chain");
        } else {
            EXPECT_EQ(error.source, http::errors::source);
            EXPECT_THAT(narrow(error.description), StartsWith("Redirect not followed."));
            EXPECT_TRUE(requests_for(*server, chain + std::to_string(row.redirects)).empty());
        }
    }
}

TEST_F(Http2AgainstServers, RedirectKeepsOrDropsMethodAndBody)
{
    struct Row {
        int status;
        std::wstring method;
        std::string method_after;
        bool body_kept;
    };
    const std::vector<Row> rows = {
        {303, L"POST", "GET", false}, {301, L"POST", "GET", false}, {302, L"POST", "GET", false},
        {307, L"POST", "POST", true}, {308, L"POST", "POST", true}, {303, L"PUT", "GET", false},
        {307, L"PUT", "PUT", true},
    };
    const std::string body = "name=value&x=1";
    for (const Row& row : rows) {
        const std::string from = "/r/" + std::to_string(row.status) + "/" + narrow(row.method);
        const std::string to = from + "/landed";
        SCOPED_TRACE(from);
        server->route(from, http_response(std::to_string(row.status) + " Redirect", {"Location: " + to}, ""));
        server->route(to, http_response("200 OK", {}, "landed"));
        Automation http = object_for(from);
        http.put(L"Method", row.method);
        http.put(L"RequestBody", wide(body));
        http.call(L"OpenConnection");
        EXPECT_EQ(http.get(L"StatusCode").integer(), 200);

        const auto first = requests_for(*server, from);
        const auto landed = requests_for(*server, to);
        ASSERT_EQ(first.size(), 1u);
        ASSERT_EQ(landed.size(), 1u);
        EXPECT_EQ(first[0].body, body);
        EXPECT_EQ(landed[0].method, row.method_after);
        EXPECT_EQ(landed[0].body, row.body_kept ? body : "");
        // The type told of the body, which is gone.
        if (!row.body_kept) {
            const std::string* type = landed[0].header("Content-Type");
            EXPECT_EQ(type, nullptr) << "Content-Type: " << (type ? *type : "");
        }
    }
}

TEST_F(Http2AgainstServers, MethodsAndBodiesOnTheWire)
{
    const std::wstring greeting = L"Gr\x00fc\x00df" L"e, \x4e16\x754c";  // German and Chinese
    const std::wstring cyrillic = L"{\"name\":\"\x041f\x0440\x0438\x0432\x0435\x0442\"}";
    struct Row {
        std::string label;
        std::wstring method;
        Value body;
        std::wstring content_type;  // set as a request header when not empty
        std::string wire_body;
        std::string wire_content_type;  // checked when not empty
    };
    const std::vector<Row> rows = {
        {"post-text", L"POST", Value(greeting), L"", "Gr\xc3\xbc\xc3\x9f" "e, \xe4\xb8\x96\xe7\x95\x8c",
         "text/plain; charset=UTF-8"},
        {"post-bytes", L"POST", byte_array(all_byte_values()), L"", all_byte_values(), ""},
        {"post-empty", L"POST", Value(L""), L"", "", ""},
        {"put-text", L"PUT", Value(L"replacement"), L"", "replacement", "text/plain; charset=UTF-8"},
        {"patch-1251", L"PATCH", Value(cyrillic), L"application/json; charset=windows-1251",
         "{\"name\":\"\xcf\xf0\xe8\xe2\xe5\xf2\"}", "application/json; charset=windows-1251"},
        {"delete", L"DELETE", Value(), L"", "", ""},
        {"options", L"OPTIONS", Value(), L"", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const std::string target = "/m/" + row.label;
        server->route(target, http_response("200 OK", {}, "done"));
        Automation http = object_for(target);
        http.put(L"Method", row.method);
        http.put(L"RequestBody", row.body);
        if (!row.content_type.empty())
            http.call(L"SetRequestHeader", {L"Content-Type", row.content_type});
        EXPECT_EQ(http.get(L"Method").text(), row.method);
        http.call(L"OpenConnection");
        EXPECT_EQ(http.get(L"StatusCode").integer(), 200);
        EXPECT_EQ(http.get(L"Content").text(), L"done");

        const auto arrived = requests_for(*server, target);
        ASSERT_EQ(arrived.size(), 1u);
        EXPECT_EQ(arrived[0].method, narrow(row.method));
        EXPECT_TRUE(arrived[0].body == row.wire_body) << "got " << arrived[0].body.size() << " bytes";
        if (row.body.type() != VT_EMPTY) {
            EXPECT_EQ(arrived[0].count_headers("Content-Length"), 1u);
            const std::string* length = arrived[0].header("Content-Length");
            ASSERT_NE(length, nullptr);
            EXPECT_EQ(*length, std::to_string(row.wire_body.size()));
        }
        if (!row.wire_content_type.empty()) {
            EXPECT_EQ(arrived[0].count_headers("Content-Type"), 1u);
            const std::string* type = arrived[0].header("Content-Type");
            ASSERT_NE(type, nullptr);
            EXPECT_EQ(lower(*type), lower(row.wire_content_type));
        }
    }
}

TEST_F(Http2AgainstServers, HeadReadsNoBody)
{
    // A HEAD response announces the length a GET would have, and sends none.
    server->route("/head", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nConnection: close\r\n\r\n");
    Automation http = object_for("/head");
    http.put(L"Method", L"HEAD");
    http.call(L"OpenConnection");
    EXPECT_EQ(http.get(L"StatusCode").integer(), 200);
    EXPECT_EQ(http.get(L"Content").text(), L"");
    EXPECT_EQ(bytes_of(http.get(L"ResponseBody")), std::string());
    EXPECT_EQ(Automation(http.get(L"Headers").object()).item(L"Content-Length").text(), L" 1000");
    const auto arrived = requests_for(*server, "/head");
    ASSERT_EQ(arrived.size(), 1u);
    EXPECT_EQ(arrived[0].method, "HEAD");
}

TEST_F(Http2AgainstServers, RequestHeadersAsSetReplacedAndCleared)
{
    server->route("/h", http_response("200 OK", {}, "ok"));
    Automation http = object_for("/h");
    http.call(L"SetRequestHeader", {L"X-One", L"1"});
    http.call(L"SetRequestHeader", {L"X-Two", L"two words\tand a tab"});
    http.call(L"SetRequestHeader", {L"x-ONE", L"uno"});
    http.call(L"OpenConnection");
    http.call(L"ClearRequestHeaders");
    http.call(L"OpenConnection");

    const auto arrived = requests_for(*server, "/h");
    ASSERT_EQ(arrived.size(), 2u);
    EXPECT_EQ(arrived[0].count_headers("X-One"), 1u);
    ASSERT_NE(arrived[0].header("X-One"), nullptr);
    EXPECT_EQ(*arrived[0].header("X-One"), "uno");
    ASSERT_NE(arrived[0].header("X-Two"), nullptr);
    EXPECT_EQ(*arrived[0].header("X-Two"), "two words\tand a tab");
    EXPECT_EQ(arrived[1].header("X-One"), nullptr);
    EXPECT_EQ(arrived[1].header("X-Two"), nullptr);
}

// A refused setting raises its error where it is set, or (when it depends on
// another setting) before anything is sent; either way the wire never sees it.
TEST_F(Http2AgainstServers, SettingsThatCannotGoOutAsWrittenAreRefused)
{
    server->route("/baseline", http_response("200 OK", {}, "ok"));
    object_for("/baseline").call(L"OpenConnection");
    const auto baseline = requests_for(*server, "/baseline");
    ASSERT_EQ(baseline.size(), 1u);
    std::vector<std::string> baseline_names;
    for (const auto& [name, value] : baseline[0].headers)
        baseline_names.push_back(lower(name));

    using Step = std::function<void(Automation&)>;
    auto header = [](std::wstring name, std::wstring value) -> Step {
        return [=](Automation& http) { http.call(L"SetRequestHeader", {name, value}); };
    };
    auto put = [](const wchar_t* member, Value value) -> Step {
        return [=](Automation& http) { http.put(member, value); };
    };
    struct Row {
        std::string label;
        Step setting;
        bool refused_when_sent;  // else when set
        const wchar_t* unchanged;  // a member that keeps a new object's value, if any
    };
    const std::vector<Row> rows = {
        {"name with CR LF", header(L"X-A\r\nX-Injected", L"1"), false, nullptr},
        {"value with CR LF", header(L"X-A", L"a\r\nX-Injected: 1"), false, nullptr},
        {"value with LF", header(L"X-A", L"a\nX-Injected: 1"), false, nullptr},
        {"value with CR", header(L"X-A", L"a\rX-Injected: 1"), false, nullptr},
        {"value with NUL", header(L"X-A", std::wstring(L"a\0b", 3)), false, nullptr},
        {"value with BEL", header(L"X-A", L"a\x07" L"b"), false, nullptr},
        {"name with a space", header(L"X A", L"1"), false, nullptr},
        {"name with a colon", header(L"X-A:", L"1"), false, nullptr},
        {"empty name", header(L"", L"1"), false, nullptr},
        {"method with a space", put(L"Method", L"GE T"), false, L"Method"},
        {"method with CR LF", put(L"Method", L"GET /x HTTP/1.1\r\nX-Injected: 1\r\n"), false, L"Method"},
        {"empty method", put(L"Method", L""), false, L"Method"},
        {"method with a separator", put(L"Method", L"G(ET)"), false, L"Method"},
        {"timeout 0", put(L"Timeout", 0), false, L"Timeout"},
        {"timeout negative", put(L"Timeout", -5), false, L"Timeout"},
        {"timeout over a day", put(L"Timeout", 86401), false, L"Timeout"},
        {"unknown charset", put(L"Charset", L"no-such-charset"), false, L"Charset"},
        {"user name with a colon", put(L"Username", L"ali:ce"), false, L"Username"},
        {"text the body's charset cannot hold",
         [](Automation& http) {
             http.call(L"SetRequestHeader", {L"Content-Type", L"text/plain; charset=windows-1251"});
             http.put(L"Method", L"POST");
             http.put(L"RequestBody", L"\x65e5\x672c");
         },
         true, nullptr},
    };
    const Automation fresh = Automation::create(L"corvane.HTTP");
    for (size_t index = 0; index < rows.size(); ++index) {
        const Row& row = rows[index];
        SCOPED_TRACE(row.label);
        const std::string target = "/refused/" + std::to_string(index);
        server->route(target, http_response("200 OK", {}, "ok"));
        Automation http = object_for(target);

        const ScriptError at_setting = error_of([&] { row.setting(http); });
        const ScriptError at_sending = error_of([&] { http.call(L"OpenConnection"); });
        const ScriptError& error = row.refused_when_sent ? at_sending : at_setting;
        EXPECT_EQ(error.number, invalid_setting) << narrow(error.description);
        EXPECT_EQ(error.source, http::errors::source);
        EXPECT_THAT(narrow(error.description), StartsWith("Invalid request setting."));
        if (row.unchanged) {
            EXPECT_EQ(http.get(row.unchanged).text(), fresh.get(row.unchanged).text());
        }

        const auto arrived = requests_for(*server, target);
        if (row.refused_when_sent) {
            EXPECT_TRUE(arrived.empty());
            continue;
        }
        // The object still works, and sends what it would have without the setting.
        EXPECT_EQ(at_sending.number, S_OK) << narrow(at_sending.description);
        ASSERT_EQ(arrived.size(), 1u);
        EXPECT_EQ(arrived[0].method, "GET");
        std::vector<std::string> names;
        for (const auto& [name, value] : arrived[0].headers)
            names.push_back(lower(name));
        EXPECT_THAT(names, ::testing::UnorderedElementsAreArray(baseline_names));
    }
}

TEST_F(Http2AgainstServers, BasicCredentialsGoOnlyToTheOriginSet)
{
    const std::string password = "s3cret \xc3\xbc";  // UTF-8 on the wire
    const std::string expected_header = "Basic " + base64("alice:" + password);
    server->route_auth("/private", "alice:" + password, http_response("200 OK", {}, "inside"));

    struct Row {
        std::string label;
        std::wstring username;
        std::wstring password;
        long long status;
    };
    const std::vector<Row> rows = {
        {"no credentials", L"", L"", 401},
        {"right credentials", L"alice", L"s3cret \x00fc", 200},
        {"wrong password", L"alice", L"s3cret", 401},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const size_t before = requests_for(*server, "/private").size();
        Automation http = object_for("/private");
        http.put(L"Username", row.username);
        http.put(L"Password", row.password);
        http.call(L"OpenConnection");
        EXPECT_EQ(http.get(L"StatusCode").integer(), row.status);
        const auto arrived = requests_for(*server, "/private");
        // Sent with the first request, without waiting for a challenge.
        ASSERT_EQ(arrived.size(), before + 1);
        if (row.status == 200) {
            EXPECT_EQ(http.get(L"Content").text(), L"inside");
        }
        if (row.username.empty()) {
            EXPECT_EQ(arrived.back().header("Authorization"), nullptr);
        } else {
            ASSERT_NE(arrived.back().header("Authorization"), nullptr);
            EXPECT_EQ(*arrived.back().header("Authorization") == expected_header, row.status == 200);
        }
    }

    // After a redirect, only a target on the same scheme, host and port:
    // Username's credentials and those the script set itself alike, in
    // whatever letter case; other headers go everywhere.
    struct Hop {
        std::string name;
        LoopbackServer* target_server;
        std::string location;
        bool credentials_sent;
    };
    const std::vector<Hop> hops = {
        {"same-origin", server, narrow(url("/hop/same-origin/landing")), true},
        {"relative", server, "/hop/relative/landing", true},
        {"another-port", other, narrow(url("/hop/another-port/landing", other)), false},
        {"another-host", server, narrow(url("/hop/another-host/landing", server, "localhost")), false},
    };
    for (const Hop& hop : hops) {
        SCOPED_TRACE(hop.name);
        const std::string from = "/hop/" + hop.name;
        const std::string landing = from + "/landing";
        server->route(from, http_response("302 Found", {"Location: " + hop.location}, ""));
        hop.target_server->route(landing, http_response("200 OK", {}, "landed"));
        Automation http = object_for(from);
        http.put(L"Username", L"alice");
        http.put(L"Password", L"s3cret \x00fc");
        const std::vector<std::pair<std::string, std::string>> own = {
            {"cookie", "session=42"}, {"PROXY-AUTHORIZATION", "Basic c2VjcmV0"}, {"X-Trace", "t1"}};
        for (const auto& [name, value] : own)
            http.call(L"SetRequestHeader", {wide(name), wide(value)});
        http.call(L"OpenConnection");
        EXPECT_EQ(http.get(L"Content").text(), L"landed");
        EXPECT_EQ(http.get(L"FinalURL").text(), wide(hop.location.front() == '/' ? narrow(url(landing)) : hop.location));

        const auto first = requests_for(*server, from);
        const auto landed = requests_for(*hop.target_server, landing);
        ASSERT_EQ(first.size(), 1u);
        ASSERT_EQ(landed.size(), 1u);
        ASSERT_NE(first[0].header("Authorization"), nullptr);
        EXPECT_EQ(*first[0].header("Authorization"), expected_header);
        EXPECT_EQ(landed[0].header("Authorization") != nullptr, hop.credentials_sent);
        for (const auto& [name, value] : own) {
            SCOPED_TRACE(name);
            ASSERT_NE(first[0].header(name), nullptr);
            const bool everywhere = name == "X-Trace";
            EXPECT_EQ(landed[0].header(name) != nullptr, everywhere || hop.credentials_sent);
        }
    }
}

TEST_F(Http2AgainstServers, ThroughTheProxyWithAndWithoutCredentials)
{
    LoopbackServer open_proxy = LoopbackServer::start_http_proxy();
    LoopbackServer strict_proxy = LoopbackServer::start_http_proxy("proxy-user", "proxy pass");
    const std::string expected_header = "Basic " + base64("proxy-user:proxy pass");
    struct Row {
        std::string label;
        LoopbackServer* proxy;
        std::wstring username;
        std::wstring password;
        long long status;
    };
    const std::vector<Row> rows = {
        {"open proxy", &open_proxy, L"", L"", 200},
        {"no credentials", &strict_proxy, L"", L"", 407},
        {"wrong credentials", &strict_proxy, L"proxy-user", L"guess", 407},
        {"right credentials", &strict_proxy, L"proxy-user", L"proxy pass", 200},
    };
    for (size_t index = 0; index < rows.size(); ++index) {
        const Row& row = rows[index];
        SCOPED_TRACE(row.label);
        const std::string target = "/proxied/" + std::to_string(index);
        server->route(target, http_response("200 OK", {}, "via proxy"));
        Automation http = object_for(target);
        const std::wstring proxy = L"127.0.0.1:" + std::to_wstring(row.proxy->port());
        http.put(L"Proxy", proxy);
        http.put(L"ProxyUsername", row.username);
        http.put(L"ProxyPassword", row.password);
        EXPECT_EQ(http.get(L"Proxy").text(), proxy);
        try {
            http.call(L"OpenConnection");
        } catch (const ScriptError& error) {
            ADD_FAILURE() << narrow(error.description);
            continue;
        }
        EXPECT_EQ(http.get(L"StatusCode").integer(), row.status);

        const std::string absolute = narrow(url(target));
        std::vector<RecordedRequest> at_proxy;
        for (RecordedRequest& request : row.proxy->requests())
            if (request.path == absolute)
                at_proxy.push_back(std::move(request));
        const auto at_origin = requests_for(*server, target);
        ASSERT_FALSE(at_proxy.empty()) << "the request did not go through the proxy";
        if (row.status == 200) {
            EXPECT_EQ(http.get(L"Content").text(), L"via proxy");
            ASSERT_EQ(at_origin.size(), 1u);
            EXPECT_EQ(at_origin[0].header("Proxy-Authorization"), nullptr);
        } else {
            EXPECT_TRUE(at_origin.empty());
        }
        if (row.username.empty()) {
            EXPECT_EQ(at_proxy.back().header("Proxy-Authorization"), nullptr);
        }
        if (row.proxy == &strict_proxy && row.status == 200) {
            ASSERT_NE(at_proxy.back().header("Proxy-Authorization"), nullptr);
            EXPECT_EQ(*at_proxy.back().header("Proxy-Authorization"), expected_header);
        }
    }
}

// The server holds each connection 12 s: a client still waiting then sees a
// late answer or an early end, never a timeout, so the test needs no clock.
TEST_F(Http2AgainstServers, TimeoutEndsASilentServerAndAStalledBody)
{
    server->route_silent("/t/silent", 12);
    server->route_stall("/t/stalled",
                        "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: close\r\n\r\n" + std::string(500, 'p'),
                        12);
    server->route("/t/fine", http_response("200 OK", {}, "fine"));
    struct Row {
        std::string target;
        HRESULT error;
    };
    for (const Row& row : {Row{"/t/silent", http::errors::send_request.number},
                           Row{"/t/stalled", http::errors::read_body.number}}) {
        SCOPED_TRACE(row.target);
        Automation http = object_for(row.target);
        http.put(L"Timeout", 2);
        EXPECT_EQ(http.get(L"Timeout").integer(), 2);
        const ScriptError error = error_of([&] { http.call(L"OpenConnection"); });
        EXPECT_EQ(error.number, row.error) << narrow(error.description);
        EXPECT_THAT(lower(narrow(error.description)), HasSubstr("timed out"));

        http.put(L"URL", url("/t/fine"));
        http.call(L"OpenConnection");
        EXPECT_EQ(http.get(L"StatusCode").integer(), 200);
        EXPECT_THAT(narrow(http.get(L"Content").text()), ::testing::EndsWith("fine"));
    }
}

TEST_F(Http2AgainstServers, ResponseBodyIsTheLastBodyByteForByte)
{
    std::string body;
    for (int round = 0; round < 64; ++round)
        body += all_byte_values();
    server->route("/bytes", http_response("200 OK", {"Content-Type: application/octet-stream"}, body));
    server->route("/short-text", http_response("200 OK", {"Content-Type: text/plain"}, "second"));

    Automation http = object_for("/bytes");
    EXPECT_EQ(bytes_of(http.get(L"ResponseBody")), std::string()) << "before any request";
    http.call(L"OpenConnection");
    const std::optional<std::string> received = bytes_of(http.get(L"ResponseBody"));
    ASSERT_TRUE(received.has_value()) << "not an array of bytes";
    EXPECT_EQ(received->size(), body.size());
    EXPECT_TRUE(*received == body);

    http.put(L"URL", url("/short-text"));
    http.call(L"OpenConnection");
    EXPECT_EQ(bytes_of(http.get(L"ResponseBody")), std::string("second"));
}

TEST_F(Http2AgainstServers, SaveToFileReplacesAFileOnlyWithAWholeBody)
{
    std::random_device random;
    const fs::path folder = fs::temp_directory_path() / ("corvane-save-" + std::to_string(random()));
    fs::create_directories(folder);
    std::string body;
    for (int round = 0; round < 1024; ++round)
        body += all_byte_values();
    server->route("/save/whole", http_response("200 OK", {"X-Saved: yes"}, body));
    server->route("/save/short", "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: close\r\n\r\n" +
                                     std::string(1000, 's'));

    // A body cut short fails as it would for OpenConnection; the file's own
    // failures have an error of their own.
    const std::string cut_short = std::string(http::errors::read_body.message.begin(),
                                              http::errors::read_body.message.end());
    const std::string not_saved = "Error saving the response to a file.";
    struct Row {
        std::string label;
        std::string target;
        std::optional<std::string> existing;  // the file's content before, if it exists
        fs::path file;
        HRESULT error;
        std::string description;  // how the error's description starts
        std::optional<std::string> after;  // the file's content after; none: no file
    };
    const std::vector<Row> rows = {
        {"new file", "/save/whole", std::nullopt, folder / "new.bin", S_OK, "", body},
        {"existing file", "/save/whole", "old content", folder / "existing.bin", S_OK, "", body},
        {"cut short, existing file", "/save/short", "precious", folder / "kept.bin",
         http::errors::read_body.number, cut_short, "precious"},
        {"cut short, no file", "/save/short", std::nullopt, folder / "never.bin", http::errors::read_body.number,
         cut_short, std::nullopt},
        {"no such folder", "/save/whole", std::nullopt, folder / "missing" / "x.bin", save_to_file_failed,
         not_saved, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        if (row.existing)
            std::ofstream(row.file, std::ios::binary) << *row.existing;
        std::vector<fs::path> before;
        for (const auto& entry : fs::directory_iterator(folder))
            before.push_back(entry.path());

        Automation http = object_for(row.target);
        const ScriptError error = error_of([&] { http.call(L"SaveToFile", {row.file.wstring()}); });
        EXPECT_EQ(error.number, row.error) << narrow(error.description);
        if (row.error != S_OK) {
            EXPECT_EQ(error.source, http::errors::source);
            EXPECT_THAT(narrow(error.description), StartsWith(row.description));
        } else {
            EXPECT_EQ(http.get(L"StatusCode").integer(), 200);
            EXPECT_EQ(Automation(http.get(L"Headers").object()).item(L"X-Saved").text(), L" yes");
            // Streamed to the file, not kept.
            EXPECT_EQ(http.get(L"Content").text(), L"");
            EXPECT_EQ(bytes_of(http.get(L"ResponseBody")), std::string());
        }

        EXPECT_EQ(fs::exists(row.file), row.after.has_value());
        if (row.after && fs::exists(row.file)) {
            std::ifstream in(row.file, std::ios::binary);
            const std::string content{std::istreambuf_iterator<char>(in), {}};
            EXPECT_EQ(content.size(), row.after->size());
            EXPECT_TRUE(content == *row.after);
        }
        // No partial or temporary file left beside it.
        std::vector<fs::path> after;
        for (const auto& entry : fs::directory_iterator(folder))
            after.push_back(entry.path());
        EXPECT_EQ(after.size(), before.size() + (row.error == S_OK && !row.existing ? 1 : 0));
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

// A body past MaxResponseSize, announced or only arriving, ends the request
// and points to SaveToFile; the object stays usable.
TEST_F(Http2AgainstServers, MaxResponseSizeEndsALargerBody)
{
    const std::string body(5000, 'b');
    server->route("/limit/announced", http_response("200 OK", {}, body));
    server->route("/limit/unannounced", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body);
    Automation http = object_for("/limit/announced");
    http.put(L"MaxResponseSize", 4999);
    for (const std::string target : {"/limit/announced", "/limit/unannounced"}) {
        SCOPED_TRACE(target);
        http.put(L"URL", url(target));
        const ScriptError error = error_of([&] { http.call(L"OpenConnection"); });
        EXPECT_EQ(error.number, http::errors::response_too_large.number);
        EXPECT_THAT(narrow(error.description), HasSubstr("SaveToFile"));
        EXPECT_EQ(http.get(L"Content").text(), L"");
    }
    http.put(L"MaxResponseSize", 5000);
    http.call(L"OpenConnection");
    EXPECT_EQ(http.get(L"Content").text(), wide(body));
}

TEST_F(Http2AgainstServers, CharsetDecidesHowContentIsRead)
{
    const std::string utf8 = "Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac";
    const std::wstring utf8_text = L"Gr\x00fc\x00df" L"e \x20ac";
    const std::string shift_jis = "\x93\xfa\x96\x7b\x8c\xea";
    const std::wstring japanese = L"\x65e5\x672c\x8a9e";
    const std::string cp1251 = "\xcf\xf0\xe8\xe2\xe5\xf2";
    const std::wstring russian = L"\x041f\x0440\x0438\x0432\x0435\x0442";
    struct Row {
        std::wstring charset;
        std::string content_type;
        std::string body;
        std::wstring content;
    };
    const std::vector<Row> rows = {
        // The system code page, whatever the response declares.
        {L"", "text/plain; charset=utf-8", utf8, decoded(CP_ACP, utf8)},
        {L"auto", "text/plain; charset=shift_jis", shift_jis, japanese},
        {L"auto", "text/plain; charset=\"windows-1251\"", cp1251, russian},
        {L"auto", "text/plain", utf8, utf8_text},
        {L"utf-8", "text/plain; charset=iso-8859-1", utf8, utf8_text},
        {L"shift_jis", "text/plain", shift_jis, japanese},
        {L"windows-1251", "text/html", cp1251, russian},
        {L"iso-8859-1", "text/plain; charset=utf-8", "caf\xe9", L"caf\x00e9"},
    };
    for (size_t index = 0; index < rows.size(); ++index) {
        const Row& row = rows[index];
        SCOPED_TRACE(narrow(row.charset) + " / " + row.content_type);
        const std::string target = "/charset/" + std::to_string(index);
        server->route(target, http_response("200 OK", {"Content-Type: " + row.content_type}, row.body));
        Automation http = object_for(target);
        http.put(L"Charset", row.charset);
        EXPECT_EQ(lower(narrow(http.get(L"Charset").text())), lower(narrow(row.charset)));
        http.call(L"OpenConnection");
        EXPECT_TRUE(http.get(L"Content").text() == row.content) << narrow(http.get(L"Content").text());
        EXPECT_EQ(bytes_of(http.get(L"ResponseBody")), row.body);
    }

    // "auto" reads each body in its own charset, one after another.
    Automation http = object_for("/charset/1");
    http.put(L"Charset", L"auto");
    http.call(L"OpenConnection");
    http.put(L"URL", url("/charset/2"));
    http.call(L"OpenConnection");
    EXPECT_TRUE(http.get(L"Content").text() == japanese + russian);
}

TEST_F(Http2AgainstServers, ResetGivesANewObjectsState)
{
    const std::vector<const wchar_t*> members = {
        L"StatusCode", L"StatusText", L"Method",   L"Timeout",       L"FollowRedirects",
        L"FinalURL",   L"Charset",    L"Username", L"Password",      L"Proxy",
        L"ProxyUsername", L"ProxyPassword", L"IgnoreCertificateErrors", L"Content",
    };
    auto state = [&](const Automation& http) {
        std::vector<std::wstring> values;
        for (const wchar_t* member : members)
            values.push_back(std::wstring(member) + L"=" + http.get(member).text());
        values.push_back(L"Headers.Count=" + std::to_wstring(header_count(http)));
        values.push_back(L"RequestBody type=" + std::to_wstring(http.get(L"RequestBody").type()));
        const auto response_body = bytes_of(http.get(L"ResponseBody"));
        values.push_back(L"ResponseBody=" + (response_body ? std::to_wstring(response_body->size()) : L"none"));
        return values;
    };
    const Automation fresh = Automation::create(L"corvane.HTTP");
    const auto new_state = state(fresh);
    EXPECT_EQ(fresh.get(L"StatusCode").integer(), 0);
    EXPECT_EQ(fresh.get(L"Method").text(), L"GET");
    EXPECT_EQ(fresh.get(L"Timeout").integer(), 60);
    EXPECT_EQ(fresh.get(L"FollowRedirects").integer(), -1);  // True
    EXPECT_EQ(fresh.get(L"IgnoreCertificateErrors").integer(), 0);
    EXPECT_EQ(fresh.get(L"RequestBody").type(), VT_EMPTY);
    EXPECT_EQ(bytes_of(fresh.get(L"ResponseBody")), std::string());

    server->route("/before-reset", http_response("202 Accepted", {"X-Before: 1"}, "before"));
    server->route("/after-reset", http_response("200 OK", {}, "after"));
    Automation http = object_for("/before-reset");
    http.put(L"Method", L"POST");
    http.put(L"RequestBody", L"payload");
    http.call(L"SetRequestHeader", {L"X-Custom", L"1"});
    http.put(L"Timeout", 30);
    http.put(L"FollowRedirects", false);
    http.put(L"Charset", L"utf-8");
    http.put(L"Username", L"alice");
    http.put(L"Password", L"secret");
    http.put(L"ProxyUsername", L"bob");
    http.put(L"ProxyPassword", L"pw");
    http.put(L"IgnoreCertificateErrors", true);
    http.call(L"OpenConnection");
    ASSERT_EQ(http.get(L"StatusCode").integer(), 202);
    ASSERT_NE(state(http), new_state);
    const Automation old_headers(http.get(L"Headers").object());
    const long long old_count = old_headers.call(L"Count").integer();

    http.call(L"Reset");
    EXPECT_EQ(state(http), new_state);
    // A new collection: what a script kept of the old one stays as it was.
    EXPECT_EQ(old_headers.call(L"Count").integer(), old_count);
    const ScriptError no_url = error_of([&] { http.call(L"OpenConnection"); });
    EXPECT_EQ(no_url.number, http::errors::url_not_set.number);

    http.put(L"URL", url("/after-reset"));
    http.call(L"OpenConnection");
    EXPECT_EQ(http.get(L"Content").text(), L"after");
    const auto arrived = requests_for(*server, "/after-reset");
    ASSERT_EQ(arrived.size(), 1u);
    EXPECT_EQ(arrived[0].method, "GET");
    EXPECT_EQ(arrived[0].body, "");
    EXPECT_EQ(arrived[0].header("X-Custom"), nullptr);
    EXPECT_EQ(arrived[0].header("Authorization"), nullptr);
}

// Over TLS, with the process's test CA trusted in the prefix meanwhile.
class Http2OverTls : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        try {
            certificates = &process_certificates();
            trust = new TrustedRoot(certificates->ca_der());
            for (const std::string& cert : {certificates->cert(), certificates->untrusted_cert(),
                                            certificates->wrong_name_cert(), certificates->expired_cert()})
                servers.push_back(new LoopbackServer(LoopbackServer::start_https(cert, certificates->key())));
            plain = new LoopbackServer(LoopbackServer::start_http());
        } catch (const std::exception& error) {
            setup_error = error.what();
        }
    }
    static void TearDownTestSuite()
    {
        for (LoopbackServer* server : servers)
            delete server;
        servers.clear();
        delete plain;
        plain = nullptr;
        delete trust;
        trust = nullptr;
        certificates = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(plain) << setup_error; }

    static std::wstring url(const LoopbackServer& server, const std::string& target)
    {
        return L"https://localhost:" + std::to_wstring(server.port()) + wide(target);
    }

    static const TestCertificates* certificates;
    static TrustedRoot* trust;
    static std::vector<LoopbackServer*> servers;  // good, untrusted CA, wrong name, expired
    static LoopbackServer* plain;
    static std::string setup_error;
};

const TestCertificates* Http2OverTls::certificates = nullptr;
TrustedRoot* Http2OverTls::trust = nullptr;
std::vector<LoopbackServer*> Http2OverTls::servers;
LoopbackServer* Http2OverTls::plain = nullptr;
std::string Http2OverTls::setup_error;

TEST_F(Http2OverTls, CertificateFailuresAreNamedAndCanBeIgnored)
{
    struct Row {
        std::string label;
        LoopbackServer* server;
        std::string error_code;  // the platform's, in the description
    };
    const std::vector<Row> rows = {
        {"unknown CA", servers[1], "12045"},    // ERROR_INTERNET_INVALID_CA
        {"wrong name", servers[2], "12038"},    // ERROR_INTERNET_SEC_CERT_CN_INVALID
        {"expired", servers[3], "12037"},       // ERROR_INTERNET_SEC_CERT_DATE_INVALID
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        row.server->route("/tls", http_response("200 OK", {}, "accepted"));
        Automation checked = Automation::create(L"corvane.HTTP");
        checked.put(L"URL", url(*row.server, "/tls"));
        const ScriptError error = error_of([&] { checked.call(L"OpenConnection"); });
        EXPECT_EQ(error.number, http::errors::send_request.number) << narrow(error.description);
        EXPECT_THAT(narrow(error.description), HasSubstr(row.error_code));
        EXPECT_TRUE(row.server->requests().empty());

        Automation lenient = Automation::create(L"corvane.HTTP");
        lenient.put(L"URL", url(*row.server, "/tls"));
        lenient.put(L"IgnoreCertificateErrors", true);
        lenient.call(L"OpenConnection");
        EXPECT_EQ(lenient.get(L"StatusCode").integer(), 200);
        EXPECT_EQ(lenient.get(L"Content").text(), L"accepted");
        EXPECT_EQ(row.server->requests().size(), 1u);
    }
}

TEST_F(Http2OverTls, RedirectFromHttpsToHttpIsNeverFollowed)
{
    LoopbackServer& secure = *servers[0];
    const std::string location = "http://127.0.0.1:" + std::to_string(plain->port()) + "/plain";
    secure.route("/down", http_response("302 Found", {"Location: " + location}, "redirect body"));
    secure.route("/up", http_response("200 OK", {}, "secure again"));
    plain->route("/plain", http_response("200 OK", {}, "in the clear"));
    plain->route("/to-https", http_response("302 Found", {"Location: " + narrow(url(secure, "/up"))}, ""));

    Automation http = Automation::create(L"corvane.HTTP");
    http.put(L"URL", url(secure, "/down"));
    const ScriptError error = error_of([&] { http.call(L"OpenConnection"); });
    EXPECT_EQ(error.number, redirect_not_followed) << narrow(error.description);
    EXPECT_THAT(narrow(error.description), StartsWith("Redirect not followed."));
    EXPECT_TRUE(requests_for(*plain, "/plain").empty());

    // Not followed on request, it is a plain answer.
    http.put(L"FollowRedirects", false);
    http.call(L"OpenConnection");
    EXPECT_EQ(http.get(L"StatusCode").integer(), 302);
    EXPECT_EQ(http.get(L"FinalURL").text(), url(secure, "/down"));

    // Upwards is fine.
    Automation up = Automation::create(L"corvane.HTTP");
    up.put(L"URL", wide("http://127.0.0.1:" + std::to_string(plain->port()) + "/to-https"));
    up.call(L"OpenConnection");
    EXPECT_EQ(up.get(L"Content").text(), L"secure again");
    EXPECT_EQ(up.get(L"FinalURL").text(), url(secure, "/up"));
    EXPECT_TRUE(requests_for(*plain, "/plain").empty());
}

}  // namespace
}  // namespace corvane::integration
