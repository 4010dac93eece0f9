// The HTTP object through the platform seam: URL parsing, the exact
// request, every failure row, the header block and the body.

#include "frame/class_table.h"
#include "component/http.h"
#include "component/http_header.h"
#include "component/http_headers.h"
#include "frame/error_code.h"
#include "http/http_errors.h"
#include "tests/unit/com_test_support.h"
#include "tests/unit/fake_platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace corvane {
namespace {

using ::testing::ElementsAre;
using tests::error_of;
using tests::take_text;
using tests::text_variant;

// Every request skips the platform's disk cache both ways, https or not:
// INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT
// (| INTERNET_FLAG_SECURE).
constexpr const char* fresh_flags = "2216689664";
constexpr const char* fresh_secure_flags = "2225078272";

// A raw header block as the platform returns it: lines ended by NULs, one
// more NUL at the end.
std::string block_of(std::initializer_list<const char*> lines)
{
    std::string block;
    for (const char* line : lines) {
        block += line;
        block += '\0';
    }
    return block + '\0';
}

class Http : public ::testing::Test {
protected:
    Http()
    {
        fake.on_FormatMessageA = [](DWORD, LPCVOID, DWORD, DWORD, LPSTR, DWORD, const DWORD_PTR*) -> DWORD { return 0; };
        http = create_instance<HTTP>().query<_HTTP>();
    }

    void set_url(std::wstring_view url)
    {
        Bstr text(url);
        ASSERT_EQ(http->put_URL(text.get()), S_OK);
    }

    std::wstring server_name()
    {
        VARIANT value;
        http->get_ServerName(&value);
        return take_text(value);
    }

    std::wstring path()
    {
        VARIANT value;
        http->get_Path(&value);
        return take_text(value);
    }

    std::wstring content()
    {
        BSTR text = nullptr;
        http->get_Content(&text);
        return take_text(text);
    }

    ComPtr<_HTTPHeaders> headers()
    {
        ComPtr<_HTTPHeaders> result;
        EXPECT_EQ(http->get_Headers(result.put()), S_OK);
        return result;
    }

    std::wstring header(const VARIANT& index)
    {
        BSTR value = nullptr;
        EXPECT_EQ(headers()->Item(index, &value), S_OK);
        return take_text(value);
    }

    // The server answers with this header block and these body pieces.
    void respond(std::string block, std::vector<std::string> body = {})
    {
        header_block = std::move(block);
        body_pieces = std::move(body);
        fake.on_HttpQueryInfoA = [this](HINTERNET, DWORD level, LPVOID buffer, LPDWORD length, LPDWORD) {
            if (level == HTTP_QUERY_RAW_HEADERS) {
                if (header_block.size() + 1 > *length) {
                    *length = static_cast<DWORD>(header_block.size() + 1);
                    return fake.fail(ERROR_INSUFFICIENT_BUFFER);
                }
                std::memcpy(buffer, header_block.data(), header_block.size());
                static_cast<char*>(buffer)[header_block.size()] = '\0';
                *length = static_cast<DWORD>(header_block.size());
                return TRUE;
            }
            *static_cast<DWORD*>(buffer) = status;
            return TRUE;
        };
        next_piece = 0;
        piece_offset = 0;
        // A piece larger than the buffer comes over several reads, as the
        // platform hands out what arrived.
        fake.on_InternetReadFile = [this](HINTERNET, LPVOID buffer, DWORD size, LPDWORD bytes_read) {
            *bytes_read = 0;
            if (next_piece < body_pieces.size()) {
                const std::string& piece = body_pieces[next_piece];
                const size_t count = std::min<size_t>(size, piece.size() - piece_offset);
                std::memcpy(buffer, piece.data() + piece_offset, count);
                *bytes_read = static_cast<DWORD>(count);
                piece_offset += count;
                if (piece_offset == piece.size()) {
                    ++next_piece;
                    piece_offset = 0;
                }
            }
            return TRUE;
        };
    }


    tests::FakePlatform fake;
    ComPtr<_HTTP> http;
    DWORD status = 200;
    std::string header_block;
    std::vector<std::string> body_pieces;
    size_t next_piece = 0;
    size_t piece_offset = 0;
};

TEST_F(Http, UrlSplitsIntoServerNameAndPath)
{
    struct Case {
        const wchar_t* url;
        const wchar_t* server;
        const wchar_t* path;
    };
    for (const Case& example : {
             Case{L"HTTP://Server1/Dir/Page.asp?x=1", L"Server1", L"/Dir/Page.asp?x=1"},
             Case{L"  http://server1  ", L"server1", L"/"},
             Case{L"server1", L"server1", L"/"},
             Case{L"https://server1:8443/x", L"server1:8443", L"/x"},
             Case{L"server1/go?to=http://other/", L"server1", L"/go?to=http://other/"},
             Case{L"/page", L"", L"/page"},
             Case{L"http://", L"", L"/"},
             Case{L"\thost/a", L"\thost", L"/a"},
         }) {
        set_url(example.url);
        EXPECT_EQ(server_name(), example.server) << to_ansi(example.url);
        EXPECT_EQ(path(), example.path);
    }
}

TEST_F(Http, BlankOrOverlongUrlChangesNothing)
{
    VARIANT value;
    http->get_ServerName(&value);
    EXPECT_EQ(take_text(value), L"");
    set_url(L"server1/a");
    set_url(L"   ");
    EXPECT_EQ(server_name(), L"server1");
    EXPECT_EQ(path(), L"/a");

    Bstr overlong(std::wstring(40000, L'h') + L"/x");
    const auto error = error_of(http->put_URL(overlong.get()));
    EXPECT_EQ(error.number, runtime_error_number(RuntimeError::overflow));
    EXPECT_EQ(error.description, L"Overflow");
    EXPECT_EQ(server_name(), L"server1");
    Bstr longest(std::wstring(32766, L'h') + L"/x");
    EXPECT_EQ(http->put_URL(longest.get()), S_OK);
}

TEST_F(Http, VersionAndTheSameHeadersEveryTime)
{
    VARIANT version;
    http->get_Version(&version);
    EXPECT_EQ(take_text(version), L"1.01.1");
    auto first = headers();
    auto second = headers();
    EXPECT_EQ(first.get(), second.get());
    LONG count = -1;
    first->Count(&count);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(content(), L"");
}

TEST_F(Http, TheRequestAsThePlatformSeesIt)
{
    set_url(L"http://server1/x?y=1");
    respond(block_of({"HTTP/1.1 200 OK"}), {"hello"});
    ASSERT_EQ(http->OpenConnection(), S_OK);
    EXPECT_THAT(fake.arguments_of("InternetOpenA"), ElementsAre("\"Corvane.HTTP\"", "0", "NULL", "NULL", "0"));
    EXPECT_THAT(fake.arguments_of("InternetConnectA"), ElementsAre("h1", "\"server1\"", "80", "\"\"", "\"\"", "3", "0", "0"));
    EXPECT_THAT(fake.arguments_of("HttpOpenRequestA"),
                ElementsAre("h2", "\"GET\"", "\"/x?y=1\"", "NULL", "NULL", "NULL", fresh_flags, "0"));
    EXPECT_THAT(fake.arguments_of("HttpSendRequestA"), ElementsAre("h3", "NULL", "0", "NULL", "0"));
    EXPECT_THAT(fake.arguments_of("HttpQueryInfoA", 0), ElementsAre("h3", "21", "32768", "0"));
    EXPECT_THAT(fake.arguments_of("HttpQueryInfoA", 1), ElementsAre("h3", std::to_string(0x20000013), "4", "0"));
    EXPECT_THAT(fake.arguments_of("InternetReadFile"), ElementsAre("h3", "65536"));
    EXPECT_THAT(fake.calls_to("InternetCloseHandle"), ::testing::SizeIs(3));
    EXPECT_EQ(fake.arguments_of("InternetCloseHandle", 0)[0], "h3");
    EXPECT_EQ(fake.arguments_of("InternetCloseHandle", 2)[0], "h1");
    EXPECT_EQ(fake.handles_open(), 0u);
    EXPECT_EQ(content(), L"hello");
}

TEST_F(Http, SecureAndExplicitPorts)
{
    struct Case {
        const wchar_t* url;
        const char* host;
        const char* port;
        const char* flags;
        const wchar_t* server_name;
    };
    for (const Case& example : {
             Case{L"https://server1/x", "\"server1\"", "443", fresh_secure_flags, L"server1"},
             Case{L"server1:8080/x", "\"server1\"", "8080", fresh_flags, L"server1:8080"},
             Case{L"HTTPS://server1:8443/x", "\"server1\"", "8443", fresh_secure_flags, L"server1:8443"},
             Case{L"http://[::1]:8081/", "\"::1\"", "8081", fresh_flags, L"[::1]:8081"},
             Case{L"http://server1:/", "\"server1:\"", "80", fresh_flags, L"server1:"},
         }) {
        tests::FakePlatform round;
        round.on_HttpQueryInfoA = [](HINTERNET, DWORD, LPVOID, LPDWORD length, LPDWORD) {
            *length = 0;
            return TRUE;
        };
        set_url(example.url);
        ASSERT_EQ(http->OpenConnection(), S_OK);
        const auto connect = round.arguments_of("InternetConnectA");
        EXPECT_EQ(connect[1], example.host);
        EXPECT_EQ(connect[2], example.port);
        EXPECT_EQ(round.arguments_of("HttpOpenRequestA")[6], example.flags);
        EXPECT_EQ(server_name(), example.server_name);
    }
}

TEST_F(Http, NoUrlIsReportedBeforeAnyPlatformCall)
{
    const auto error = error_of(http->OpenConnection());
    EXPECT_EQ(error.number, http::errors::url_not_set.number);
    EXPECT_EQ(error.source, http::errors::source);
    EXPECT_EQ(error.description, L"No URL set.  Please ensure that the URL property is set.");
    set_url(L"/only/a/path");
    EXPECT_EQ(error_of(http->OpenConnection()).number, http::errors::url_not_set.number);
    EXPECT_TRUE(fake.calls.empty());
}

TEST_F(Http, EveryFailureRowClosesWhatWasOpenAndAllowsAnotherTry)
{
    struct Row {
        const char* name;
        std::function<void(tests::FakePlatform&)> make_it_fail;
        HRESULT number;
        const wchar_t* description;
    };
    const std::vector<Row> rows = {
        {"session", [](tests::FakePlatform& f) { f.on_InternetOpenA = [&f](auto...) -> HINTERNET { f.last_error = 12001; return nullptr; }; },
         http::errors::open_internet.number,
         L"Error opening connection to the internet.OpenConnection error code: 12001 Message: "},
        {"connection", [](tests::FakePlatform& f) { f.on_InternetConnectA = [&f](auto...) -> HINTERNET { f.last_error = 12007; return nullptr; }; },
         http::errors::open_connection.number,
         L"Error opening connection to remote server.OpenConnection error code: 12007 Message: "},
        {"request", [](tests::FakePlatform& f) { f.on_HttpOpenRequestA = [&f](auto...) -> HINTERNET { f.last_error = 12005; return nullptr; }; },
         http::errors::open_request.number,
         L"Error opening request to remote server.OpenConnection error code: 12005 Message: "},
        {"send", [](tests::FakePlatform& f) { f.on_HttpSendRequestA = [&f](auto...) { return f.fail(12029); }; },
         http::errors::send_request.number,
         L"Error opening request received from remote server.GetString error code: 12029 Message: "},
        {"headers", [](tests::FakePlatform& f) { f.on_HttpQueryInfoA = [&f](HINTERNET, DWORD level, LPVOID, LPDWORD, LPDWORD) { return level == HTTP_QUERY_RAW_HEADERS ? f.fail(12150) : TRUE; }; },
         http::errors::query_headers.number,
         L"Error getting information out of request(1).GetString error code: 12150 Message: "},
        {"status", [](tests::FakePlatform& f) { f.on_HttpQueryInfoA = [&f](HINTERNET, DWORD level, LPVOID, LPDWORD length, LPDWORD) { if (level == HTTP_QUERY_RAW_HEADERS) { *length = 0; return TRUE; } return f.fail(12150); }; },
         http::errors::query_status.number,
         L"Error getting information out of request(2).GetString error code: 12150 Message: "},
        {"read", [](tests::FakePlatform& f) { f.on_InternetReadFile = [&f](auto...) { return f.fail(12030); }; },
         http::errors::read_body.number,
         L"Error getting information out of request.GetString error code: 12030 Message: "},
    };
    set_url(L"server1");
    for (const Row& row : rows) {
        tests::FakePlatform round;
        round.on_FormatMessageA = fake.on_FormatMessageA;
        if (std::string(row.name) != "headers" && std::string(row.name) != "status")
            round.on_HttpQueryInfoA = [](HINTERNET, DWORD, LPVOID, LPDWORD length, LPDWORD) {
                *length = 0;
                return TRUE;
            };
        row.make_it_fail(round);
        const auto error = error_of(http->OpenConnection());
        EXPECT_EQ(error.number, row.number) << row.name;
        EXPECT_EQ(error.source, http::errors::source);
        EXPECT_EQ(error.description, row.description) << row.name;
        EXPECT_EQ(round.handles_open(), 0u) << row.name;
        // Not stuck open: the next call starts over.
        const size_t opens = round.count("InternetOpenA");
        http->OpenConnection();
        EXPECT_EQ(round.count("InternetOpenA"), opens + 1) << row.name;
    }
}

TEST_F(Http, CloseFailureAtAnyHandle)
{
    set_url(L"server1");
    for (const std::string failing : {"h3", "h2", "h1"}) {
        tests::FakePlatform round;
        round.on_FormatMessageA = fake.on_FormatMessageA;
        round.on_HttpQueryInfoA = [](HINTERNET, DWORD, LPVOID, LPDWORD length, LPDWORD) {
            *length = 0;
            return TRUE;
        };
        round.on_InternetCloseHandle = [&](HINTERNET handle) {
            return tests::FakePlatform::handle_name(handle) == failing ? round.fail(12017) : TRUE;
        };
        const auto error = error_of(http->OpenConnection());
        EXPECT_EQ(error.number, http::errors::close_connection.number) << failing;
        EXPECT_EQ(error.description, L"Error closing connection.GetString error code: 12017 Message: ");
        EXPECT_EQ(round.count("InternetCloseHandle"), 3u) << failing;
        round.on_InternetCloseHandle = nullptr;
        const size_t opens = round.count("InternetOpenA");
        EXPECT_EQ(http->OpenConnection(), S_OK);
        EXPECT_EQ(round.count("InternetOpenA"), opens + 1);
    }
}

TEST_F(Http, HeaderLinesBecomeEntriesAndRepeatedNamesStay)
{
    set_url(L"server1");
    respond(block_of({"HTTP/1.1 200 OK", "Content-Type: text/html", "Location: http://server1/x", "Set-Cookie: a=1",
                      "set-cookie: b=2", "no colon here"}));
    ASSERT_EQ(http->OpenConnection(), S_OK);
    LONG count = 0;
    headers()->Count(&count);
    EXPECT_EQ(count, 4);
    Variant one;
    V_VT(one.get()) = VT_I4;
    V_I4(one.get()) = 1;
    EXPECT_EQ(header(*one.get()), L" text/html");
    EXPECT_EQ(header(*text_variant(L"CONTENT-TYPE").get()), L" text/html");
    EXPECT_EQ(header(*text_variant(L"location").get()), L" http://server1/x");
    EXPECT_EQ(header(*text_variant(L"Set-Cookie").get()), L" a=1");

    std::vector<std::wstring> seen;
    ComPtr<IUnknown> walker;
    headers()->NewEnum(walker.put());
    auto enumerator = walker.query<IEnumVARIANT>();
    VARIANT item;
    ULONG fetched = 0;
    while (enumerator->Next(1, &item, &fetched) == S_OK) {
        auto entry = ComPtr<IDispatch>::adopt(V_DISPATCH(&item)).query<_HTTPHeader>();
        BSTR name = nullptr, value = nullptr;
        entry->get_Name(&name);
        entry->get_Value(&value);
        seen.push_back(take_text(name) + L"=" + take_text(value));
    }
    EXPECT_THAT(seen, ElementsAre(L"Content-Type= text/html", L"Location= http://server1/x", L"Set-Cookie= a=1",
                                  L"set-cookie= b=2"));

    // A second request adds to the same collection.
    respond(block_of({"HTTP/1.1 200 OK", "Content-Type: text/plain"}));
    ASSERT_EQ(http->OpenConnection(), S_OK);
    headers()->Count(&count);
    EXPECT_EQ(count, 5);
}

TEST_F(Http, LargeHeaderBlockIsAskedForAgain)
{
    set_url(L"server1");
    std::string block = "HTTP/1.1 200 OK";
    block += '\0';
    for (int line = 0; line < 40; ++line) {
        block += "X-Filler-" + std::to_string(line) + ": " + std::string(1000, 'v');
        block += '\0';
    }
    block += '\0';
    respond(block);
    ASSERT_EQ(http->OpenConnection(), S_OK);
    LONG count = 0;
    headers()->Count(&count);
    EXPECT_EQ(count, 40);
    EXPECT_EQ(header(*text_variant(L"x-filler-39").get()), L" " + std::wstring(1000, L'v'));
}

TEST_F(Http, BodyIsAppendedAcrossReadsAndRequests)
{
    set_url(L"server1");
    respond(block_of({"HTTP/1.1 200 OK"}), {"abc", "def"});
    ASSERT_EQ(http->OpenConnection(), S_OK);
    EXPECT_EQ(content(), L"abcdef");
    respond(block_of({"HTTP/1.1 404 Not Found"}), {"missing"});
    ASSERT_EQ(http->OpenConnection(), S_OK);
    EXPECT_EQ(content(), L"abcdefmissing");
    respond(block_of({"HTTP/1.1 204 No Content"}), {});
    ASSERT_EQ(http->OpenConnection(), S_OK);
    EXPECT_EQ(content(), L"abcdefmissing");
}

TEST_F(Http, BodyIsReadStraightIntoOneBufferSizedFromItsLength)
{
    const std::string large(3 * 1024 * 1024 + 17, 'x');
    struct Row {
        const char* name;
        std::string length_line;  // empty: no length announced
        std::vector<std::string> pieces;
        size_t first_read;        // what the first read asks for at least
        HRESULT outcome;
    };
    const std::vector<Row> rows = {
        // The whole body and the byte that finds its end, in one buffer.
        {"announced", "Content-Length: 10", {"0123456789"}, 11, S_OK},
        {"announced, large", "Content-Length: " + std::to_string(large.size()), {large}, 1024 * 1024, S_OK},
        {"not announced", "", {large.substr(0, 1000), large.substr(1000)}, 65536, S_OK},
        // A length no body will reach sets aside no more than a bounded
        // amount, and ends as a body cut short.
        {"announced, never sent", "Content-Length: 999999999999999", {"abc"}, 1024 * 1024,
         http::errors::read_body.number},
    };
    for (const Row& row : rows) {
        tests::FakePlatform round;
        round.on_FormatMessageA = fake.on_FormatMessageA;
        http = create_instance<HTTP>().query<_HTTP>();
        ASSERT_TRUE(http) << row.name;
        set_url(L"server1");
        std::vector<const char*> lines = {"HTTP/1.1 200 OK"};
        if (!row.length_line.empty())
            lines.push_back(row.length_line.c_str());
        std::string block;
        for (const char* line : lines)
            block += std::string(line) + '\0';
        respond(block + '\0', row.pieces);
        round.on_HttpQueryInfoA = fake.on_HttpQueryInfoA;
        round.on_InternetReadFile = fake.on_InternetReadFile;
        EXPECT_EQ(error_of(http->OpenConnection()).number, row.outcome) << row.name;
        const auto reads = round.calls_to("InternetReadFile");
        ASSERT_FALSE(reads.empty()) << row.name;
        EXPECT_GE(std::stoul(reads[0].arguments[1]), row.first_read) << row.name;
        for (const auto& read : reads)
            EXPECT_LE(std::stoul(read.arguments[1]), 1024u * 1024u) << row.name;
        std::string sent;
        for (const std::string& piece : row.pieces)
            sent += piece;
        EXPECT_TRUE(content() == std::wstring(sent.begin(), sent.end())) << row.name;
    }
}

TEST_F(Http, ContentReadAgainIsTheSameText)
{
    set_url(L"server1");
    respond(block_of({"HTTP/1.1 200 OK", "Content-Length: 5"}), {"hello"});
    ASSERT_EQ(http->OpenConnection(), S_OK);
    EXPECT_EQ(content(), L"hello");
    EXPECT_EQ(content(), L"hello");
    respond(block_of({"HTTP/1.1 200 OK"}), {" again"});
    ASSERT_EQ(http->OpenConnection(), S_OK);
    EXPECT_EQ(content(), L"hello again");
}

TEST_F(Http, ReadFailureKeepsWhatArrived)
{
    set_url(L"server1");
    respond(block_of({"HTTP/1.1 200 OK"}), {"first"});
    fake.on_InternetReadFile = [&, reads = 0](HINTERNET, LPVOID buffer, DWORD, LPDWORD bytes_read) mutable {
        if (reads++ > 0)
            return fake.fail(12030);
        std::memcpy(buffer, "first", 5);
        *bytes_read = 5;
        return TRUE;
    };
    EXPECT_EQ(error_of(http->OpenConnection()).number, http::errors::read_body.number);
    EXPECT_EQ(content(), L"first");
}

TEST_F(Http, DoubleByteCharacterAcrossTwoReads)
{
    fake.ansi_code_page = 932;
    set_url(L"server1");
    // "あい" in Shift-JIS, split inside the first character.
    respond(block_of({"HTTP/1.1 200 OK"}), {"\x82", "\xa0\x82\xa2"});
    ASSERT_EQ(http->OpenConnection(), S_OK);
    EXPECT_EQ(content(), L"\u3042\u3044");
}

TEST_F(Http, TimeoutsOnSessionAndConnectionBeforeTheRequest)
{
    set_url(L"server1/x");
    respond(block_of({"HTTP/1.1 200 OK"}));
    ASSERT_EQ(http->OpenConnection(), S_OK);
    const std::vector<std::string> steps = fake.options_among({"InternetConnectA", "HttpOpenRequestA"});
    // Connect, send and receive, 60 s each, as 4-byte values.
    EXPECT_THAT(steps, ElementsAre("h1 2=60000/4", "h1 5=60000/4", "h1 6=60000/4", "InternetConnectA",
                                   "h2 2=60000/4", "h2 5=60000/4", "h2 6=60000/4", "HttpOpenRequestA"));
}

TEST_F(Http, RefusedTimeoutFailsItsStepAndLeavesNothingOpen)
{
    struct Failure {
        HRESULT number;
        const wchar_t* description;
    };
    struct Row {
        const char* handle;
        DWORD option;
        Failure expected;
    };
    const Failure internet{http::errors::open_internet.number,
                           L"Error opening connection to the internet.OpenConnection error code: 12018 Message: "};
    const Failure remote{http::errors::open_connection.number,
                         L"Error opening connection to remote server.OpenConnection error code: 12018 Message: "};
    set_url(L"server1");
    for (const Row& row : {Row{"h1", INTERNET_OPTION_CONNECT_TIMEOUT, internet},
                           Row{"h1", INTERNET_OPTION_SEND_TIMEOUT, internet},
                           Row{"h1", INTERNET_OPTION_RECEIVE_TIMEOUT, internet},
                           Row{"h2", INTERNET_OPTION_CONNECT_TIMEOUT, remote},
                           Row{"h2", INTERNET_OPTION_SEND_TIMEOUT, remote},
                           Row{"h2", INTERNET_OPTION_RECEIVE_TIMEOUT, remote}}) {
        SCOPED_TRACE(std::string(row.handle) + " option " + std::to_string(row.option));
        tests::FakePlatform round;
        round.on_FormatMessageA = fake.on_FormatMessageA;
        round.on_HttpQueryInfoA = [](HINTERNET, DWORD, LPVOID, LPDWORD length, LPDWORD) {
            *length = 0;
            return TRUE;
        };
        round.on_InternetSetOptionA = [&](HINTERNET handle, DWORD option, LPVOID, DWORD) {
            return tests::FakePlatform::handle_name(handle) == row.handle && option == row.option ? round.fail(12018)
                                                                                                   : TRUE;
        };
        const auto error = error_of(http->OpenConnection());
        EXPECT_EQ(error.number, row.expected.number);
        EXPECT_EQ(error.description, row.expected.description);
        EXPECT_EQ(round.count("HttpOpenRequestA"), 0u);
        EXPECT_EQ(round.handles_open(), 0u);
        round.on_InternetSetOptionA = nullptr;
        EXPECT_EQ(http->OpenConnection(), S_OK);
    }
}

TEST_F(Http, UrlThatWouldNotGoOutAsWrittenIsRefusedBeforeAnythingOpens)
{
    const std::wstring control = L"Error opening request to remote server. The URL holds a control character.";
    const std::wstring foreign =
        L"Error opening request to remote server. The URL holds characters the system code page cannot represent.";
    struct Row {
        std::wstring url;
        std::wstring description;
    };
    const std::vector<Row> rows = {
        {L"server1/a\r\nX-Injected: 1", control},
        {L"server1/a\rb", control},
        {L"server1/a\nb", control},
        {L"server1/a\x01" L"b", control},
        {L"server1/a\x1f", control},
        {L"server1/a\x7f", control},
        {std::wstring(L"server1/a\0b", 11), control},
        {L"\thost/a", control},
        {L"ser\x01ver1/a", control},
        {L"server1:80\x0b/a", control},
        {L"server1/\x0395\x03bb\x03bb\x03b7\x03bd\x03b9\x03ba\x03ac", foreign},
        {L"server1/\x0100", foreign},  // best fit would send 'A'
        {L"server1/\xd800", foreign},  // a lone surrogate
        {L"\x0395\x03bb.example/a", foreign},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(to_utf8_unescaped(row.url));
        tests::FakePlatform round;
        round.ansi_code_page = 1252;
        Bstr url(row.url);
        ASSERT_EQ(http->put_URL(url.get()), S_OK);
        const auto error = error_of(http->OpenConnection());
        EXPECT_EQ(error.number, http::errors::open_request.number);
        EXPECT_EQ(error.source, http::errors::source);
        EXPECT_EQ(error.description, row.description);
        EXPECT_TRUE(round.calls.empty());
    }
}

TEST_F(Http, UrlTheCodePageHoldsGoesOutByteForByte)
{
    struct Row {
        const wchar_t* url;
        UINT code_page;
        const char* host;
        const char* object_name;
    };
    for (const Row& row : {Row{L"caf\x00e9.example/caf\x00e9?x=\x00fc", 1252, "\"caf\xe9.example\"", "\"/caf\xe9?x=\xfc\""},
                           Row{L"server1/\x3042", 932, "\"server1\"", "\"/\x82\xa0\""},
                           Row{L"server1/a b~", 1252, "\"server1\"", "\"/a b~\""}}) {
        tests::FakePlatform round;
        round.ansi_code_page = row.code_page;
        round.on_HttpQueryInfoA = [](HINTERNET, DWORD, LPVOID, LPDWORD length, LPDWORD) {
            *length = 0;
            return TRUE;
        };
        set_url(row.url);
        ASSERT_EQ(http->OpenConnection(), S_OK) << row.object_name;
        ASSERT_EQ(round.count("HttpOpenRequestA"), 1u);
        EXPECT_EQ(round.arguments_of("InternetConnectA")[1], row.host);
        EXPECT_EQ(round.arguments_of("HttpOpenRequestA")[2], row.object_name);
    }
}

TEST_F(Http, BodyShorterThanItsLengthIsAReadError)
{
    struct Row {
        const char* name;
        DWORD status;
        std::vector<const char*> lines;
        std::vector<std::string> pieces;
        bool cut;
    };
    const std::vector<Row> rows = {
        {"short", 200, {"Content-Length: 10"}, {"hel", "lo"}, true},
        {"whole", 200, {"Content-Length: 5"}, {"hel", "lo"}, false},
        {"lower case and blanks", 200, {"content-length: \t10 "}, {"hello"}, true},
        {"nothing arrived", 200, {"Content-Length: 10"}, {}, true},
        {"error status with body", 404, {"Content-Length: 10"}, {"hello"}, true},
        {"chunked", 200, {"Content-Length: 10", "Transfer-Encoding: chunked"}, {"hello"}, false},
        {"compressed", 200, {"Content-Encoding: gzip", "Content-Length: 10"}, {"hello"}, false},
        {"identity coding", 200, {"Content-Encoding: identity", "Content-Length: 10"}, {"hello"}, true},
        {"no content", 204, {"Content-Length: 10"}, {}, false},
        {"not modified", 304, {"Content-Length: 10"}, {}, false},
        {"two lengths that differ", 200, {"Content-Length: 10", "Content-Length: 5"}, {"hello"}, false},
        {"unreadable length", 200, {"Content-Length: 1O"}, {"hello"}, false},
        {"overlong length", 200, {"Content-Length: 1234567890123456789012"}, {"hello"}, false},
        {"no length", 200, {"Content-Type: text/plain"}, {"hello"}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        http = create_instance<HTTP>().query<_HTTP>();
        set_url(L"server1");
        std::string block = "HTTP/1.1 " + std::to_string(row.status) + " X";
        block += '\0';
        for (const char* line : row.lines) {
            block += line;
            block += '\0';
        }
        status = row.status;
        respond(block + '\0', row.pieces);
        const auto error = error_of(http->OpenConnection());
        std::string body;
        for (const std::string& piece : row.pieces)
            body += piece;
        if (row.cut) {
            EXPECT_EQ(error.number, http::errors::read_body.number);
            EXPECT_EQ(error.description, L"Error getting information out of request. The transfer ended early: " +
                                             std::to_wstring(body.size()) + L" of 10 bytes arrived.");
        } else {
            EXPECT_EQ(error.number, S_OK);
        }
        EXPECT_EQ(content(), from_ansi(body));  // what arrived stays either way
        EXPECT_EQ(fake.handles_open(), 0u);
    }
}

TEST_F(Http, MaxResponseSizeRefusesALargerBodyAndTheObjectStaysUsable)
{
    auto http2 = http.query<_HTTP2>();
    EXPECT_EQ(error_of(http2->put_MaxResponseSize(-1)).number, http::errors::invalid_setting.number);
    ASSERT_EQ(http2->put_MaxResponseSize(10), S_OK);
    set_url(L"server1");
    const HRESULT too_large = http::errors::response_too_large.number;
    struct Row {
        const char* name;
        const char* length_line;  // nullptr: none
        std::string body;
        HRESULT outcome;
        // Bytes all reads together may ask for: one past the limit at
        // most, and one more for the read that finds the end.
        size_t most_asked;
    };
    const std::vector<Row> rows = {
        {"announced beyond it: nothing read", "Content-Length: 11", std::string(11, 'x'), too_large, 0},
        {"arriving beyond it: one byte more asked", nullptr, std::string(50, 'x'), too_large, 11},
        {"up to it", nullptr, std::string(10, 'y'), S_OK, 12},
        {"announced up to it", "Content-Length: 10", std::string(10, 'z'), S_OK, 12},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string block = std::string("HTTP/1.1 200 OK") + '\0';
        if (row.length_line)
            block += std::string(row.length_line) + '\0';
        respond(block + '\0', {row.body});
        const size_t reads_before = fake.calls_to("InternetReadFile").size();
        const auto error = error_of(http->OpenConnection());
        EXPECT_EQ(error.number, row.outcome);
        EXPECT_EQ(error.description.find(L"SaveToFile") != std::wstring::npos, FAILED(row.outcome));
        const auto reads = fake.calls_to("InternetReadFile");
        size_t asked = 0;
        for (size_t index = reads_before; index < reads.size(); ++index)
            asked += std::stoul(reads[index].arguments[1]);
        EXPECT_LE(asked, row.most_asked);
        EXPECT_EQ(fake.handles_open(), 0u);
    }
    // Refused bodies leave nothing; the later ones came whole.
    EXPECT_EQ(content(), L"yyyyyyyyyyzzzzzzzzzz");
}

TEST_F(Http, BodiesReadLateBoundAreHandedOverAndAFailedConversionRaises)
{
    set_url(L"server1");
    respond(block_of({"HTTP/1.1 200 OK"}), {"abc"});
    ASSERT_EQ(http->OpenConnection(), S_OK);
    auto dispatch = http.query<IDispatch>();
    Variant argument = text_variant(L"x");
    DISPPARAMS none{};
    DISPPARAMS one{argument.get(), nullptr, 1, 0};
    Variant value;
    const auto read = [&](DISPID id, WORD flags, DISPPARAMS* parameters, EXCEPINFO* exception = nullptr) {
        return dispatch->Invoke(id, IID_NULL, 0, flags, parameters, value.put(), exception, nullptr);
    };
    ASSERT_EQ(read(0x108, DISPATCH_PROPERTYGET, &none), S_OK);
    EXPECT_EQ(V_VT(value.get()), VT_ARRAY | VT_UI1);
    ASSERT_EQ(read(0x68030001, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none), S_OK);
    EXPECT_EQ(text_of(*value.get()), L"abc");
    // Other calls are checked as for StatusText, which the type information reads.
    EXPECT_EQ(read(0x68030001, DISPATCH_PROPERTYGET, &one), read(0x102, DISPATCH_PROPERTYGET, &one));
    EXPECT_EQ(read(0x68030001, DISPATCH_METHOD, &none), read(0x102, DISPATCH_METHOD, &none));

    // A conversion the platform fails: an error, never an empty text.
    fake.on_MultiByteToWideChar = [](UINT, DWORD, LPCCH, int, LPWSTR, int) { return 0; };
    EXCEPINFO exception{};
    EXPECT_EQ(read(0x68030001, DISPATCH_PROPERTYGET, &none, &exception), DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, E_OUTOFMEMORY);
    EXPECT_EQ(take_text(exception.bstrDescription).find(L"Out of memory. Content"), 0u);
    SysFreeString(exception.bstrSource);
}

TEST(HttpHeaderEntries, FreeStandingEntriesAndAnEmptyCollection)
{
    auto entry = create_instance<HTTPHeader>().query<_HTTPHeader>();
    Bstr first(L"first"), second(L"second");
    entry->put_ID(first.get());
    entry->put_ID(second.get());
    BSTR id = nullptr;
    entry->get_ID(&id);
    EXPECT_EQ(take_text(id), L"first");
    entry->put_Value(second.get());
    VARIANT value;
    Variant no_arguments;
    DISPPARAMS none{};
    ASSERT_EQ(static_cast<IDispatch*>(entry.get())
                  ->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(take_text(value), L"second");

    auto made = HTTPHeader::from_line(L"Name", L" value");
    Bstr renamed(L"Other");
    made->put_ID(renamed.get());
    made->get_ID(&id);
    EXPECT_EQ(take_text(id), L"Name");

    auto collection = create_instance<HTTPHeaders>().query<_HTTPHeaders>();
    Variant position;
    V_VT(position.get()) = VT_I4;
    V_I4(position.get()) = 1;
    BSTR text = nullptr;
    EXPECT_EQ(error_of(collection->Item(*position.get(), &text)).number,
              runtime_error_number(RuntimeError::subscript_out_of_range));
}

}  // namespace
}  // namespace corvane
