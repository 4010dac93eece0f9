// The development server's own parsing: request heads, page sources and
// the site paths both of them lead to.

#include "tools/asp_host/page_state.h"
#include "tools/aspdev/page_source.h"
#include "tools/aspdev/request_head.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

namespace corvane::aspdev {
namespace {

using ::testing::HasSubstr;

struct HeadCase {
    const char* name;
    std::string head;
    int status;  // 0: accepted
};

TEST(RequestHead, RefusesWhatItCannotServeSafely)
{
    const HeadCase cases[] = {
        {"plain get", "GET /a/b.asp?x=1 HTTP/1.1\r\nHost: h", 0},
        {"head", "HEAD / HTTP/1.0", 0},
        {"post with length", "POST /f.asp HTTP/1.1\r\nContent-Length: 3", 0},
        {"utf-8 path", "GET /caf%C3%A9.txt HTTP/1.1", 0},
        {"dot dot", "GET /a/../b HTTP/1.1", 400},
        {"escaped dot dot", "GET /a/%2E%2e/b HTTP/1.1", 400},
        {"single dot", "GET /a/./b HTTP/1.1", 400},
        {"backslash", "GET /a%5Cb HTTP/1.1", 400},
        {"drive", "GET /C:/x HTTP/1.1", 400},
        {"stream", "GET /a.asp::$DATA HTTP/1.1", 400},
        {"trailing dot", "GET /a.asp. HTTP/1.1", 400},
        {"trailing space", "GET /a.asp%20 HTTP/1.1", 400},
        {"nul", "GET /a%00 HTTP/1.1", 400},
        {"bad escape", "GET /a%G1 HTTP/1.1", 400},
        {"cut escape", "GET /a% HTTP/1.1", 400},
        {"cut escape in query", "GET /a?b=%4 HTTP/1.1", 400},
        {"control in query", "GET /a?b=\x01 HTTP/1.1", 400},
        {"not utf-8", "GET /%C3%28 HTTP/1.1", 400},
        {"absolute form", "GET http://h/a HTTP/1.1", 400},
        {"no version", "GET /", 400},
        {"unknown method", "PATCH / HTTP/1.1", 405},
        {"method not a token", "GE(T / HTTP/1.1", 400},
        {"newer protocol", "GET / HTTP/2.0", 505},
        {"not http", "GET / XTTP/1.1", 400},
        {"folded header", "GET / HTTP/1.1\r\nA: b\r\n c", 400},
        {"header without colon", "GET / HTTP/1.1\r\nNoColon", 400},
        {"header name not a token", "GET / HTTP/1.1\r\nA B: c", 400},
        {"control in header", "GET / HTTP/1.1\r\nA: b\x7f", 400},
        {"post without length", "POST / HTTP/1.1", 411},
        {"two lengths", "POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2", 400},
        {"length not a number", "POST / HTTP/1.1\r\nContent-Length: 1x", 400},
        {"huge length", "POST / HTTP/1.1\r\nContent-Length: 999999999999", 413},
        {"length past 64 bits", "POST / HTTP/1.1\r\nContent-Length: 99999999999999999999999", 413},
        {"length just too large", "POST / HTTP/1.1\r\nContent-Length: 8388609", 413},
        {"chunked", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked", 501},
        {"head over 64 KB", "GET / HTTP/1.1\r\nX: " + std::string(max_head_bytes, 'a'), 431},
    };
    for (const HeadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto parsed = parse_request_head(c.head);
        if (c.status == 0) {
            EXPECT_TRUE(std::holds_alternative<RequestHead>(parsed));
        } else {
            const auto* refusal = std::get_if<Refusal>(&parsed);
            ASSERT_NE(refusal, nullptr);
            EXPECT_EQ(refusal->status, c.status) << refusal->detail;
        }
    }
}

TEST(RequestHead, KeepsTheQueryRawAndDecodesThePath)
{
    const auto parsed = parse_request_head("POST /caf%C3%A9/x.asp?d=%2Fa+b&e HTTP/1.1\r\ncontent-length: 12\r\nHost: h");
    const auto* request = std::get_if<RequestHead>(&parsed);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->path, L"/caf\u00e9/x.asp");
    EXPECT_EQ(request->query, "d=%2Fa+b&e");
    EXPECT_EQ(request->content_length, 12u);
    ASSERT_NE(request->header("HOST"), nullptr);
    EXPECT_EQ(*request->header("HOST"), "h");
}

// A site in memory: address -> file text.
ReadSiteFile site_of(const std::map<std::wstring, std::wstring>& files)
{
    return [files](const std::wstring& address) -> std::optional<std::wstring> {
        const auto found = files.find(address);
        if (found == files.end())
            return std::nullopt;
        return found->second;
    };
}

TEST(PageSource, TurnsTextIntoBlocksAndExpressionsIntoWrites)
{
    const auto result = translate_page(
        L"/p.asp", site_of({{L"/p.asp", L"<%@ Language=\"VBScript\" %>\r\n<% Option Explicit %>\r\n<b><%= x %></b>\r\n"
                                        L"<% If a Then %>yes<% End If %>"}}));
    const auto* page = std::get_if<PageScript>(&result);
    ASSERT_NE(page, nullptr) << std::get<PageError>(result).message.size();
    EXPECT_EQ(page->script, L"Option Explicit\n"
                            L"Response.WriteBlock 0\n"
                            L" \n"
                            L"Response.WriteBlock 1\n"
                            L"Response.Write (x)\n"
                            L"Response.WriteBlock 2\n"
                            L" If a Then \n"
                            L"Response.WriteBlock 3\n"
                            L" End If ");
    EXPECT_EQ(page->blocks, (std::vector<std::wstring>{L"\r\n", L"\r\n<b>", L"</b>\r\n", L"yes"}));
    ASSERT_EQ(page->lines.size(), 9u);
    EXPECT_EQ(page->lines[0].line, 2);  // Option Explicit, moved to the top
    EXPECT_EQ(page->lines[4].line, 3);  // the expression
    EXPECT_EQ(page->lines[8].line, 4);
}

TEST(PageSource, TracesEveryScriptLineToItsFile)
{
    const auto result = translate_page(L"/dir/p.asp", site_of({
                                                           {L"/dir/p.asp", L"<%\r\na = 1\r\n%>\r\n<!-- #include file=\"inc/i.inc\" -->\r\n<% b = 2 %>"},
                                                           {L"/dir/inc/i.inc", L"<p>\r\n<% c = 3\r\nd = 4 %>\r\n<!--#include virtual=\"/top.inc\"-->"},
                                                           {L"/top.inc", L"<% e = 5 %>"},
                                                       }));
    const auto* page = std::get_if<PageScript>(&result);
    ASSERT_NE(page, nullptr);
    auto where = [&](std::wstring_view statement) -> SourceLine {
        std::wstring_view script = page->script;
        const size_t at = script.find(statement);
        if (at == std::wstring_view::npos)
            return {L"(missing)", 0};
        const size_t line = static_cast<size_t>(std::count(script.begin(), script.begin() + static_cast<long>(at), L'\n'));
        return page->lines.at(line);
    };
    const std::pair<const wchar_t*, SourceLine> expected[] = {
        {L"a = 1", {L"/dir/p.asp", 2}}, {L"c = 3", {L"/dir/inc/i.inc", 2}}, {L"d = 4", {L"/dir/inc/i.inc", 3}},
        {L"e = 5", {L"/top.inc", 1}},   {L"b = 2", {L"/dir/p.asp", 5}},
    };
    for (const auto& [statement, line] : expected) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(statement)));
        const SourceLine found = where(statement);
        EXPECT_EQ(found.file, line.file);
        EXPECT_EQ(found.line, line.line);
    }
}

TEST(PageSource, RefusesPagesItCannotRunSafely)
{
    const struct {
        const char* name;
        std::map<std::wstring, std::wstring> files;
        const wchar_t* message;
        int line;
    } cases[] = {
        {"include above the root", {{L"/p.asp", L"x\r\n<!-- #include file=\"../secret.txt\" -->"}}, L"outside the site", 2},
        {"virtual above the root", {{L"/p.asp", L"<!-- #include virtual=\"/../x\" -->"}}, L"outside the site", 1},
        {"absolute file include", {{L"/p.asp", L"<!-- #include file=\"/x.inc\" -->"}}, L"outside the site", 1},
        {"missing include", {{L"/p.asp", L"<!-- #include file=\"none.inc\" -->"}}, L"not found", 1},
        {"self include", {{L"/p.asp", L"<!-- #include file=\"p.asp\" -->"}}, L"includes itself", 1},
        {"cycle", {{L"/p.asp", L"<!-- #include file=\"a.inc\" -->"}, {L"/a.inc", L"<!-- #include file=\"p.asp\" -->"}},
         L"includes itself", 1},
        {"unclosed block", {{L"/p.asp", L"a\r\nb<% x = 1"}}, L"no \"%>\"", 2},
        {"other language", {{L"/p.asp", L"<%@ LANGUAGE = JScript %>"}}, L"Only VBScript", 1},
        {"bad directive", {{L"/p.asp", L"<%@ Language %>"}}, L"Name=Value", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = translate_page(L"/p.asp", site_of(c.files));
        const auto* error = std::get_if<PageError>(&result);
        ASSERT_NE(error, nullptr);
        EXPECT_THAT(error->message, HasSubstr(c.message));
        EXPECT_EQ(error->where.line, c.line);
    }
}

TEST(PageSource, BoundsIncludeDepth)
{
    std::map<std::wstring, std::wstring> files{{L"/p.asp", L"<!-- #include file=\"i0.inc\" -->"}};
    for (int i = 0; i < 40; ++i)
        files[L"/i" + std::to_wstring(i) + L".inc"] = L"<!-- #include file=\"i" + std::to_wstring(i + 1) + L".inc\" -->";
    const auto result = translate_page(L"/p.asp", site_of(files));
    const auto* error = std::get_if<PageError>(&result);
    ASSERT_NE(error, nullptr);
    EXPECT_THAT(error->message, HasSubstr(L"16 deep"));
}

TEST(SitePaths, MapsOnlyInsideTheRoot)
{
    const struct {
        const wchar_t* page;
        const wchar_t* address;
        std::optional<std::wstring> expected;
    } cases[] = {
        {L"/a/p.asp", L"/x/y.txt", L"C:\\site\\x\\y.txt"},
        {L"/a/p.asp", L"y.txt", L"C:\\site\\a\\y.txt"},
        {L"/a/p.asp", L"../y.txt", L"C:\\site\\y.txt"},
        {L"/a/p.asp", L"/", L"C:\\site\\"},
        {L"/a/p.asp", L"../../y.txt", std::nullopt},
        {L"/p.asp", L"\\..\\y", std::nullopt},
        {L"/p.asp", L"C:\\windows", std::nullopt},
        {L"/p.asp", L"x.txt::$DATA", std::nullopt},
        {L"/p.asp", L"x.txt.", std::nullopt},
        {L"/p.asp", L"x.txt ", std::nullopt},
        {L"/p.asp", L"*.txt", std::nullopt},
        {L"/p.asp", L"nul", std::nullopt},
        {L"/p.asp", L"con.txt", std::nullopt},
        {L"/p.asp", L"COM1", std::nullopt},
        {L"/p.asp", L"lpt9.log", std::nullopt},
        {L"/p.asp", L"console.txt", L"C:\\site\\console.txt"},
        {L"/p.asp", L"com10", L"C:\\site\\com10"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.address)));
        EXPECT_EQ(asp_host::map_site_path(L"C:\\site\\", c.page, c.address), c.expected);
    }
}

}  // namespace
}  // namespace corvane::aspdev
