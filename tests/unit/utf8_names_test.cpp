// Names in UTF-8 through the platform seam: the conversions and what they
// refuse, the agreement with the server at connect in every branch (Wine
// cannot show a FEAT reply), names sent and listed, and the browser page's
// links.

#include "frame/class_table.h"
#include "frame/text.h"
#include "component/ftp.h"
#include "ftp/ftp_errors.h"
#include "tests/common/local_files.h"
#include "tests/unit/com_test_support.h"
#include "tests/unit/fake_platform.h"
#include "tools/asp_host/test_page.h"
#include "web/utf8_links.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>

namespace corvane {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using tests::error_of;
using tests::take_text;
using tests::text_variant;

TEST(Utf8Text, OnlyWellFormedUtf8IsRead)
{
    struct Row {
        const char* label;
        std::string bytes;
        std::optional<std::wstring> text;
        std::wstring escaped;
    };
    const std::vector<Row> rows = {
        {"accented", "caf\xC3\xA9", L"caf\u00E9", L"caf\u00E9"},
        {"undefined in 1252", "\xCF\x81\xCF\x8D\xCE\x9D\xCE\x8F\xCE\x90", L"\u03C1\u03CD\u039D\u038F\u0390",
         L"\u03C1\u03CD\u039D\u038F\u0390"},
        {"four bytes", "\xF0\x9F\x98\x80", L"\xD83D\xDE00", L"\xD83D\xDE00"},
        {"last code point", "\xF4\x8F\xBF\xBF", L"\xDBFF\xDFFF", L"\xDBFF\xDFFF"},
        {"Latin-1", "caf\xE9", std::nullopt, L"caf\xDCE9"},
        {"overlong dots", "\xC0\xAE\xC0\xAE", std::nullopt, L"\xDCC0\xDCAE\xDCC0\xDCAE"},
        {"overlong CR LF", "a\xC0\x8D\xE0\x80\x8A", std::nullopt, L"a\xDCC0\xDC8D\xDCE0\xDC80\xDC8A"},
        {"overlong NUL", "\xC0\x80", std::nullopt, L"\xDCC0\xDC80"},
        {"overlong slash, four bytes", "\xF0\x80\x80\xAF", std::nullopt, L"\xDCF0\xDC80\xDC80\xDCAF"},
        {"encoded surrogate", "\xED\xA0\x80", std::nullopt, L"\xDCED\xDCA0\xDC80"},
        {"past U+10FFFF", "\xF4\x90\x80\x80", std::nullopt, L"\xDCF4\xDC90\xDC80\xDC80"},
        {"cut at the end", "x\xE6\x97", std::nullopt, L"x\xDCE6\xDC97"},
        {"continuation alone", "\x80z", std::nullopt, L"\xDC80z"},
        {"never a byte of UTF-8", "\xFF\xFE", std::nullopt, L"\xDCFF\xDCFE"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(from_utf8_exact(row.bytes), row.text);
        EXPECT_EQ(from_utf8_escaped(row.bytes), row.escaped);
        // Kept bytes come back as they were, and never as a name to send.
        EXPECT_EQ(to_utf8_unescaped(row.escaped), row.bytes);
        EXPECT_EQ(to_utf8_exact(row.escaped), row.text ? std::optional<std::string>(row.bytes) : std::nullopt);
    }
    EXPECT_EQ(to_utf8_exact(L"a\xD800"), std::nullopt);
    EXPECT_EQ(to_utf8_exact(L"\xDC00" L"b"), std::nullopt);
    EXPECT_EQ(to_utf8_unescaped(L"\xD800"), "\xEF\xBF\xBD");
}

TEST(Utf8Links, PercentEncodedUtf8BothWays)
{
    EXPECT_EQ(web::utf8_url_encode(L"/\u0395\u03BB a.b"), L"%2F%CE%95%CE%BB%20a%2Eb");
    EXPECT_EQ(web::utf8_url_encode(L"caf\xDCE9"), L"caf%E9");

    struct Row {
        const wchar_t* query;
        std::optional<std::wstring> value;
    };
    const std::vector<Row> rows = {
        {L"d=%2F%CE%95%CE%BB%20a%2Eb", L"/\u0395\u03BB a.b"},
        {L"x=1&D=a+b&d=%E6%97%A5", L"a b, \u65E5"},
        {L"d=%zz%4", L"%zz%4"},
        {L"x=%E9", L""},
        {L"d", L""},
        {L"d=\u03B5", L"\u03B5"},
        {L"d=caf%E9", std::nullopt},
        {L"d=%C0%AE%C0%AE", std::nullopt},
        {L"d=a%C0%8DMKD%20x", std::nullopt},
        {L"d=ok&d=%ED%A0%80", std::nullopt},
        {L"d=\xD800", std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(web::utf8_query_item(row.query, L"d"), row.value) << std::string(row.query, row.query + 4);

    EXPECT_EQ(web::html_text_references(L"<\u0395>&\"'\xD83D\xDE00\xDCE9"),
              L"&lt;&#917;&gt;&amp;&quot;&#39;&#128512;&#65533;");
}

class Utf8Session : public ::testing::Test {
protected:
    Utf8Session()
    {
        fake.on_FormatMessageA = [](DWORD, LPCVOID, DWORD, DWORD, LPSTR, DWORD, const DWORD_PTR*) -> DWORD { return 0; };
        fake.ansi_code_page = 1252;
        ftp = create_instance<FTP>().query<_FTP2>();
    }

    HRESULT connect(bool utf8)
    {
        Variant url = text_variant(L"host");
        Variant user = text_variant(L"tester");
        EXPECT_EQ(ftp->put_URL(*url.get()), S_OK);
        EXPECT_EQ(ftp->put_Username(*user.get()), S_OK);
        EXPECT_EQ(ftp->put_UTF8(utf8 ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
        return ftp->OpenConnection();
    }

    // The commands sent at connect and the reply each leaves; a reply of
    // 400 or more fails the call with `code`.
    void answer(std::string feat_reply, std::string opts_reply, DWORD code = ERROR_INTERNET_EXTENDED_ERROR,
                bool opts_call_fails = true)
    {
        fake.on_FtpCommandA = [=, this](HINTERNET, BOOL, DWORD, LPCSTR command, DWORD_PTR, HINTERNET*) {
            const std::string& reply = std::strcmp(command, "FEAT") == 0 ? feat_reply : opts_reply;
            fake.last_response = reply;
            if (reply.compare(0, 1, "4") >= 0 && (opts_call_fails || std::strcmp(command, "FEAT") == 0))
                return fake.fail(code);
            return TRUE;
        };
    }

    std::vector<std::string> commands() const
    {
        std::vector<std::string> sent;
        for (const tests::PlatformCall& call : fake.calls_to("FtpCommandA"))
            sent.push_back(call.arguments[3] + (call.arguments[1] == "0" ? "" : " expecting a response"));
        return sent;
    }

    tests::FakePlatform fake;
    ComPtr<_FTP2> ftp;
};

TEST_F(Utf8Session, AgreedAtConnectOrTheConnectFailsCleanly)
{
    const std::string features = "211-Features:\r\n MDTM\r\n UTF8\r\n SIZE\r\n211 End FEAT.";
    struct Row {
        const char* label;
        std::string feat_reply;
        std::string opts_reply;
        DWORD code;
        bool opts_call_fails;
        // Empty when the connect succeeds.
        std::wstring error;
    };
    const std::vector<Row> rows = {
        {"OPTS accepted", "500 Unknown command.", "200 UTF8 set to on", 0, true, L""},
        {"listed, OPTS refused", features, "501 Invalid argument.", ERROR_INTERNET_EXTENDED_ERROR, true, L""},
        {"listed in lower case", "211-Extensions supported\r\n utf8\r\n211 END", "502 No.", ERROR_INTERNET_EXTENDED_ERROR,
         true, L""},
        {"neither", "500 Unknown command.", "500 OPTS not understood", ERROR_INTERNET_EXTENDED_ERROR, true,
         L"Error opening FTP connection. The server refused names in UTF-8: 500 OPTS not understood"},
        {"a longer feature is no UTF8", "211-Features:\r\n UTF8X\r\n LANG EN;UTF8\r\n211 End", "501 No.",
         ERROR_INTERNET_EXTENDED_ERROR, true, L"Error opening FTP connection. The server refused names in UTF-8: 501 No."},
        {"only a FEAT reply counts", "230-Welcome\r\n UTF8\r\n230 Ready", "501 No.", ERROR_INTERNET_EXTENDED_ERROR,
         true, L"Error opening FTP connection. The server refused names in UTF-8: 501 No."},
        {"refusal passed off as success", "500 Unknown command.", "504 Not for that argument.", 0, false,
         L"Error opening FTP connection. The server refused names in UTF-8: 504 Not for that argument."},
        {"connection lost, listed or not", features, "421 Bye.", ERROR_INTERNET_CONNECTION_ABORTED, true,
         L"Error opening FTP connection.OpenConnection error code: 12030 Message: 421 Bye."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        fake.calls.clear();
        ftp = create_instance<FTP>().query<_FTP2>();
        answer(row.feat_reply, row.opts_reply, row.code, row.opts_call_fails);
        const HRESULT result = connect(true);
        EXPECT_THAT(commands(), ElementsAre("\"FEAT\"", "\"OPTS UTF8 ON\""));
        if (row.error.empty()) {
            EXPECT_EQ(result, S_OK);
            EXPECT_EQ(fake.handles_open(), 2u);
            EXPECT_EQ(ftp->CloseConnection(), S_OK);
        } else {
            const auto error = error_of(result);
            EXPECT_EQ(error.number, ftp::errors::open_connection.number);
            EXPECT_EQ(error.description, row.error);
            // Nothing left open, and nothing believed open.
            EXPECT_EQ(fake.handles_open(), 0u);
            VARIANT directory;
            VariantInit(&directory);
            EXPECT_EQ(error_of(ftp->get_Directory(&directory)).number, ftp::errors::not_connected.number);
        }
        EXPECT_EQ(fake.handles_open(), 0u);
    }
}

TEST_F(Utf8Session, OffSendsNothingMoreAndTheFlagWaitsForTheNextConnect)
{
    VARIANT_BOOL utf8 = VARIANT_TRUE;
    ASSERT_EQ(ftp->get_UTF8(&utf8), S_OK);
    EXPECT_EQ(utf8, VARIANT_FALSE);
    ASSERT_EQ(connect(false), S_OK);
    EXPECT_TRUE(commands().empty());

    const std::wstring greek = L"\u0395\u03BB";
    Variant name = text_variant(greek);
    // While connected in ANSI, turning it on changes nothing yet.
    ASSERT_EQ(ftp->put_UTF8(VARIANT_TRUE), S_OK);
    EXPECT_THAT(error_of(ftp->DeleteFile(*name.get())).description,
                HasSubstr(L"holds characters the system code page cannot represent"));
    EXPECT_EQ(fake.count("FtpDeleteFileA"), 0u);
    ASSERT_EQ(ftp->CloseConnection(), S_OK);
    ASSERT_EQ(ftp->OpenConnection(), S_OK);
    EXPECT_THAT(commands(), ElementsAre("\"FEAT\"", "\"OPTS UTF8 ON\""));
    // And turning it off keeps the connection in UTF-8 until it closes.
    ASSERT_EQ(ftp->put_UTF8(VARIANT_FALSE), S_OK);
    ASSERT_EQ(ftp->DeleteFile(*name.get()), S_OK);
    EXPECT_EQ(fake.arguments_of("FtpDeleteFileA")[1], "\"\xCE\x95\xCE\xBB\"");
}

TEST_F(Utf8Session, EveryNameGoesAsUtf8AndWhatCannotIsNeverSent)
{
    ASSERT_EQ(connect(true), S_OK);
    const std::wstring name = L"\u65E5\u672C/\u03C1\u03CD\u039D";
    const std::string bytes = "\"\xE6\x97\xA5\xE6\x9C\xAC/\xCF\x81\xCF\x8D\xCE\x9D\"";
    Variant text = text_variant(name);
    Variant command = text_variant(L"SITE CHMOD 600 " + name);
    BSTR reply = nullptr;
    ASSERT_EQ(ftp->put_Directory(*text.get()), S_OK);
    ASSERT_EQ(ftp->CreateDirectory(*text.get()), S_OK);
    ASSERT_EQ(ftp->RenameFile(*text.get(), *text.get()), S_OK);
    ASSERT_EQ(ftp->ExecuteCommand(*command.get(), VARIANT_FALSE, &reply), S_OK);
    SysFreeString(reply);
    EXPECT_EQ(fake.arguments_of("FtpSetCurrentDirectoryA")[1], bytes);
    EXPECT_EQ(fake.arguments_of("FtpCreateDirectoryA")[1], bytes);
    EXPECT_THAT(fake.arguments_of("FtpRenameFileA"), ElementsAre("h2", bytes, bytes));
    EXPECT_EQ(fake.arguments_of("FtpCommandA", 2)[3], "\"SITE CHMOD 600 " + bytes.substr(1));

    const size_t calls_before = fake.calls.size();
    for (const std::wstring& refused : {std::wstring(L"a\u03B5\r\nDELE x"), std::wstring(L"a\xD800"),
                                        std::wstring(L"caf\xDCE9"), std::wstring(L"a\0b", 3)}) {
        Variant value = text_variant(refused);
        const auto error = error_of(ftp->DeleteFile(*value.get()));
        EXPECT_EQ(error.number, ftp::errors::delete_file.number);
        EXPECT_THAT(error.description, HasSubstr(L", so it was not sent."));
    }
    EXPECT_EQ(fake.calls.size(), calls_before);
}

TEST_F(Utf8Session, ListedNamesDirectoryAndRepliesAreReadAsUtf8)
{
    ASSERT_EQ(connect(true), S_OK);
    const std::vector<std::string> listed = {"caf\xC3\xA9", "caf\xE9", "\xC0\xAE\xC0\xAE", "a\xC0\x8D" "b"};
    size_t next = 0;
    const auto fill = [&](WIN32_FIND_DATAA* data) {
        *data = WIN32_FIND_DATAA{};
        std::strcpy(data->cFileName, listed[next++].c_str());
    };
    fake.on_FtpFindFirstFileA = [&](HINTERNET, LPCSTR, LPWIN32_FIND_DATAA data, DWORD, DWORD_PTR) -> HINTERNET {
        next = 0;
        fill(data);
        return fake.new_handle();
    };
    fake.on_InternetFindNextFileA = [&](HINTERNET, LPVOID data) {
        if (next >= listed.size())
            return fake.fail(ERROR_NO_MORE_FILES);
        fill(static_cast<WIN32_FIND_DATAA*>(data));
        return TRUE;
    };
    BSTR text = nullptr;
    ASSERT_EQ(ftp->GetDirectoryListing(static_cast<Directory_Listing_Type>(ShowFiles | ShowDirectories), &text), S_OK);
    EXPECT_EQ(take_text(text), L"caf\u00E9\r\ncaf\xDCE9\r\n\xDCC0\xDCAE\xDCC0\xDCAE\r\na\xDCC0\xDC8D" L"b\r\n");

    // A kept byte makes the name unsendable: it cannot reach another file.
    Variant hostile = text_variant(L"\xDCC0\xDCAE\xDCC0\xDCAE");
    EXPECT_THAT(error_of(ftp->DeleteFile(*hostile.get())).description, HasSubstr(L"unpaired surrogate"));
    EXPECT_EQ(fake.count("FtpDeleteFileA"), 0u);

    fake.on_FtpGetCurrentDirectoryA = [](HINTERNET, LPSTR buffer, LPDWORD) {
        std::strcpy(buffer, "/\xCE\x9A\xCE\xB1");
        return TRUE;
    };
    VARIANT directory;
    VariantInit(&directory);
    ASSERT_EQ(ftp->get_Directory(&directory), S_OK);
    EXPECT_EQ(take_text(directory), L"/\u039A\u03B1/");
    fake.last_response = "550 \xCE\x9A\xCE\xB1: no such file";
    VARIANT response;
    VariantInit(&response);
    ASSERT_EQ(ftp->GetLastResponse(&response), S_OK);
    EXPECT_EQ(take_text(response), L"550 \u039A\u03B1: no such file");
}

// A tree download writes the listed names exactly as the server's UTF-8
// gives them, whatever the code page; a name with kept bytes is refused
// before anything is written.
TEST_F(Utf8Session, TreeDownloadWritesUnicodeNamesAndRefusesKeptBytes)
{
    ASSERT_EQ(connect(true), S_OK);
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("corvane-unit-utf8-tree-" + std::to_string(GetCurrentProcessId()));
    struct Case {
        std::string listed;
        const wchar_t* written;  // nullptr: refused
    };
    for (const Case& example : {Case{"\xCE\x95\xCE\xBB", L"\u0395\u03BB"}, Case{"\xEF\xBC\x8E\xEF\xBC\x8E", L"\uFF0E\uFF0E"},
                                Case{"\xC0\xAE\xC0\xAE", nullptr}}) {
        tests::remove_tree(folder.wstring());
        fake.calls.clear();
        fake.on_FtpFindFirstFileA = [&](HINTERNET, LPCSTR, LPWIN32_FIND_DATAA data, DWORD, DWORD_PTR) -> HINTERNET {
            *data = WIN32_FIND_DATAA{};
            std::strcpy(data->cFileName, example.listed.c_str());
            return fake.new_handle();
        };
        Variant remote = text_variant(L"/top");
        Variant local = text_variant(folder.wstring());
        const auto error = error_of(ftp->GetDirectory(*remote.get(), *local.get(), VARIANT_TRUE, VARIANT_TRUE));
        if (example.written) {
            EXPECT_EQ(error.number, S_OK) << example.listed;
            EXPECT_EQ(fake.arguments_of("FtpOpenFileA")[1], "\"/top/" + example.listed + "\"");
            EXPECT_TRUE(std::filesystem::is_regular_file(folder / example.written)) << example.listed;
        } else {
            EXPECT_EQ(error.number, ftp::errors::get_file.number);
            EXPECT_THAT(error.description, HasSubstr(L"holds an unpaired surrogate"));
            EXPECT_EQ(fake.count("FtpOpenFileA"), 0u);
            EXPECT_FALSE(std::filesystem::exists(folder));
        }
    }
    tests::remove_tree(folder.wstring());
}

TEST_F(Utf8Session, BrowserPageLinksAreUtf8AndComeBackOnlyAsUtf8)
{
    const auto page_for = [&](const wchar_t* query) {
        ComPtr<IAspTestPage> page = asp_host::new_page();
        for (auto [key, value] : {std::pair{L"SERVER_NAME", L"w"}, std::pair{L"SERVER_PORT", L"80"},
                                  std::pair{L"SCRIPT_NAME", L"/b.asp"}})
            page->SetServerVariable(Bstr(key).get(), Bstr(value).get());
        page->ParseQueryString(Bstr(query).get());
        ftp = create_instance<FTP>().query<_FTP2>();
        Variant result;
        EXPECT_EQ(ftp->OnStartPage(asp_host::context_of(page.get()).get(), result.put()), S_OK);
        EXPECT_EQ(connect(true), S_OK);
        return page;
    };
    fake.on_FtpFindFirstFileA = [&](HINTERNET, LPCSTR, LPWIN32_FIND_DATAA data, DWORD, DWORD_PTR) -> HINTERNET {
        *data = WIN32_FIND_DATAA{};
        std::strcpy(data->cFileName, "<\xCE\x95>caf\xE9");
        return fake.new_handle();
    };
    ComPtr<IAspTestPage> listing = page_for(L"");
    ASSERT_EQ(ftp->PrintClient(), S_OK);
    EXPECT_THAT(asp_host::body_of(listing.get()),
                HasSubstr(L"?f=%2F%3C%CE%95%3Ecaf%E9\">&lt;&#917;&gt;caf&#65533;</a>"));

    // The kept byte comes back and is refused; a Greek directory passes.
    ComPtr<IAspTestPage> file = page_for(L"f=%2F%3C%CE%95%3Ecaf%E9");
    EXPECT_EQ(error_of(ftp->PrintClient()).number, ftp::errors::open_file.number);
    EXPECT_EQ(fake.count("FtpOpenFileA"), 0u);
    fake.calls.clear();
    ComPtr<IAspTestPage> directory = page_for(L"d=%2F%CE%95");
    ASSERT_EQ(ftp->PrintClient(), S_OK);
    EXPECT_EQ(fake.arguments_of("FtpSetCurrentDirectoryA")[1], "\"/\xCE\x95\"");
}

}  // namespace
}  // namespace corvane
