// The browser page and the download, with the test ASP host as the page
// and the platform scripted: the exact output, the links, hostile names
// and queries, and every failure path of the download.

#include "frame/class_table.h"
#include "component/ftp.h"
#include "ftp/ftp_errors.h"
#include "tests/unit/com_test_support.h"
#include "web/content_disposition.h"
#include "tests/unit/fake_platform.h"
#include "tools/asp_host/test_page.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>

namespace corvane {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using tests::error_of;
using tests::text_variant;

struct Entry {
    std::string name;
    bool directory;
    DWORD size;
};

const std::wstring style_and_table_start =
    L"<style><!--\n.ftp_alternating_line_1\n{\n background-color: #EEEEEE;\n}\n.ftp_alternating_line_2\n{\n"
    L" background-color: #DDDDDD;\n}\n--></style>\n<table border=\"1\" cellspacing=\"0\" cellpadding=\"5\">"
    L"<tr><td colspan=\"2\"></td></tr><tr><td><b>File/Directory Name</b></td><td><b>File Size</b></td></tr>";

class BrowserPage : public ::testing::Test {
protected:
    BrowserPage()
    {
        fake.on_FormatMessageA = [](DWORD, LPCVOID, DWORD, DWORD, LPSTR, DWORD, const DWORD_PTR*) -> DWORD { return 0; };
        fake.on_FtpGetCurrentDirectoryA = [this](HINTERNET, LPSTR buffer, LPDWORD) {
            std::strcpy(buffer, server_directory.c_str());
            return TRUE;
        };
        fake.on_FtpSetCurrentDirectoryA = [this](HINTERNET, LPCSTR directory) {
            server_directory = directory;
            return TRUE;
        };
        fake.on_FtpFindFirstFileA = [this](HINTERNET, LPCSTR, LPWIN32_FIND_DATAA data, DWORD, DWORD_PTR) -> HINTERNET {
            next = 0;
            if (entries.empty()) {
                fake.last_error = ERROR_NO_MORE_FILES;
                return nullptr;
            }
            fill(data);
            return fake.new_handle();
        };
        fake.on_InternetFindNextFileA = [this](HINTERNET, LPVOID data) {
            if (next >= entries.size())
                return fake.fail(ERROR_NO_MORE_FILES);
            fill(static_cast<WIN32_FIND_DATAA*>(data));
            return TRUE;
        };
        page = asp_host::new_page();
        set_server_variables(L"off", L"www.example", L"80", L"/browse.asp");
        ftp = create_instance<FTP>().query<_FTP>();
    }

    void fill(WIN32_FIND_DATAA* data)
    {
        *data = WIN32_FIND_DATAA{};
        std::strcpy(data->cFileName, entries[next].name.c_str());
        data->dwFileAttributes = entries[next].directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
        data->nFileSizeLow = entries[next].size;
        ++next;
    }

    void set_server_variables(const wchar_t* https, const wchar_t* name, const wchar_t* port, const wchar_t* script)
    {
        for (auto [key, value] : {std::pair{L"HTTPS", https}, std::pair{L"SERVER_NAME", name},
                                  std::pair{L"SERVER_PORT", port}, std::pair{L"SCRIPT_NAME", script}})
            page->SetServerVariable(Bstr(key).get(), Bstr(value).get());
    }

    void query(const wchar_t* key, const wchar_t* value) { page->SetQueryString(Bstr(key).get(), Bstr(value).get()); }

    void bind_and_connect()
    {
        auto context = asp_host::context_of(page.get());
        Variant result;
        ASSERT_EQ(ftp->OnStartPage(context.get(), result.put()), S_OK);
        Variant url = text_variant(L"host");
        Variant user = text_variant(L"tester");
        ftp->put_URL(*url.get());
        ftp->put_Username(*user.get());
        ASSERT_EQ(ftp->OpenConnection(), S_OK);
    }

    std::wstring body() { return asp_host::body_of(page.get()); }
    size_t writes()
    {
        size_t count = 0;
        for (const std::wstring& call : asp_host::calls_of(page.get()))
            count += call == L"Write";
        return count;
    }

    tests::FakePlatform fake;
    ComPtr<IAspTestPage> page;
    ComPtr<_FTP> ftp;
    std::string server_directory = "/";
    std::vector<Entry> entries;
    size_t next = 0;
};

TEST_F(BrowserPage, EmptyDirectoryIsTheTableFrameAlone)
{
    bind_and_connect();
    ASSERT_EQ(ftp->PrintClient(), S_OK);
    EXPECT_EQ(body(), style_and_table_start +
                          L"<tr><td colspan=\"2\"><a href=\"http://www.example/browse.asp?d=%2F\">..</a></td></tr>"
                          L"</table>");
    EXPECT_EQ(writes(), 16u);
}

TEST_F(BrowserPage, DirectoriesFirstThenFilesWithAlternatingClasses)
{
    server_directory = "/pub";
    entries = {{"b.txt", false, 12}, {"docs", true, 0}, {"a.bin", false, 3000000000u}, {"src", true, 0},
               {"c", false, 0}};
    bind_and_connect();
    ASSERT_EQ(ftp->PrintClient(), S_OK);
    const std::wstring link = L"<td><a href=\"http://www.example/browse.asp";
    EXPECT_EQ(body(),
              style_and_table_start +
                  L"<tr><td colspan=\"2\"><a href=\"http://www.example/browse.asp?d=%2F\">..</a></td></tr>" +
                  L"<tr class=\"ftp_alternating_line_1\">" + link + L"?d=%2Fpub%2Fdocs\">docs</a></td><td>&nbsp;</td></tr>" +
                  L"<tr class=\"ftp_alternating_line_2\">" + link + L"?d=%2Fpub%2Fsrc\">src</a></td><td>&nbsp;</td></tr>" +
                  L"<tr class=\"ftp_alternating_line_1\">" + link + L"?f=%2Fpub%2Fb%2Etxt\">b.txt</a></td><td>12</td></tr>" +
                  L"<tr class=\"ftp_alternating_line_2\">" + link +
                  L"?f=%2Fpub%2Fa%2Ebin\">a.bin</a></td><td>3000000000</td></tr>" +
                  L"<tr class=\"ftp_alternating_line_1\">" + link + L"?f=%2Fpub%2Fc\">c</a></td><td>0</td></tr>" +
                  L"</table>");
    EXPECT_EQ(writes(), 21u);
    // The page address and the current directory are read once per call.
    EXPECT_EQ(fake.count("FtpGetCurrentDirectoryA"), 2u);
}

TEST_F(BrowserPage, RequestedDirectoryAndItsParent)
{
    struct Case {
        const wchar_t* d;
        const wchar_t* parent;
    };
    for (const Case& example : {Case{L"/", L"%2F"}, Case{L"/pub", L"%2F"}, Case{L"/pub/", L"%2F"},
                                Case{L"/pub/docs", L"%2Fpub%2F"}, Case{L"/pub/docs/", L"%2Fpub%2F"},
                                Case{L"docs", L"%2F"}, Case{L"a/b", L"a%2F"}}) {
        page = asp_host::new_page();
        set_server_variables(L"", L"h", L"80", L"/p.asp");
        query(L"d", example.d);
        server_directory = "/start";
        ftp = create_instance<FTP>().query<_FTP>();
        bind_and_connect();
        ASSERT_EQ(ftp->PrintClient(), S_OK);
        EXPECT_THAT(body(), HasSubstr(std::wstring(L"<a href=\"http://h/p.asp?d=") + example.parent + L"\">..</a>"));
        // Changed to d for the listing, back again at the end.
        const auto changes = fake.calls_to("FtpSetCurrentDirectoryA");
        ASSERT_GE(changes.size(), 2u);
        EXPECT_EQ(changes[changes.size() - 2].arguments[1], "\"" + to_ansi(example.d) + "\"");
        EXPECT_EQ(server_directory, "/start/");
    }
}

TEST_F(BrowserPage, BlankDirectoryCountsAsAbsent)
{
    query(L"d", L"   ");
    bind_and_connect();
    ASSERT_EQ(ftp->PrintClient(), S_OK);
    EXPECT_EQ(fake.count("FtpSetCurrentDirectoryA"), 1u);  // only the restore
    EXPECT_THAT(body(), HasSubstr(L"?d=%2F\">..</a>"));
}

TEST_F(BrowserPage, PageAddressFromTheServerVariables)
{
    struct Case {
        const wchar_t* https;
        const wchar_t* port;
        const wchar_t* expected;
    };
    for (const Case& example : {Case{L"off", L"80", L"http://srv/app/p.asp"}, Case{L"on", L"443", L"https://srv:443/app/p.asp"},
                                Case{L"On", L"80", L"https://srv/app/p.asp"}, Case{L"", L"8080", L"http://srv:8080/app/p.asp"}}) {
        page = asp_host::new_page();
        set_server_variables(example.https, L"srv", example.port, L"/app/p.asp");
        ftp = create_instance<FTP>().query<_FTP>();
        bind_and_connect();
        ASSERT_EQ(ftp->PrintClient(), S_OK);
        EXPECT_THAT(body(), HasSubstr(std::wstring(L"<a href=\"") + example.expected + L"?d=%2F\">..</a>"));
    }
}

TEST_F(BrowserPage, NamesAndQueriesComeOutInert)
{
    server_directory = "/pub";
    entries = {{"a b&c", true, 0}, {"<img src=x onerror=alert(1)>", false, 1}, {"it's \"quoted\"", false, 2}};
    query(L"d", L"/pub/\"><script>alert(1)</script>");
    set_server_variables(L"off", L"srv", L"80", L"/p.asp\"><script>x</script>");
    bind_and_connect();
    ASSERT_EQ(ftp->PrintClient(), S_OK);
    const std::wstring page_text = body();
    EXPECT_THAT(page_text, Not(HasSubstr(L"<script>")));
    EXPECT_THAT(page_text, Not(HasSubstr(L"<img")));
    EXPECT_THAT(page_text, HasSubstr(L"%2Fa+b%26c\">a b&amp;c</a>"));
    EXPECT_THAT(page_text, HasSubstr(L">&lt;img src=x onerror=alert(1)&gt;</a>"));
    EXPECT_THAT(page_text, HasSubstr(L">it&#39;s &quot;quoted&quot;</a>"));
    EXPECT_THAT(page_text, HasSubstr(L"<a href=\"http://srv/p.asp&quot;&gt;&lt;script&gt;x&lt;/script&gt;"
                                     L"?d=%2Fpub%2F%22%3E%3Cscript%3Ealert%281%29%3C%2F\">..</a>"));
}

TEST_F(BrowserPage, NothingWithoutAConnection)
{
    auto context = asp_host::context_of(page.get());
    Variant result;
    ASSERT_EQ(ftp->OnStartPage(context.get(), result.put()), S_OK);
    EXPECT_EQ(ftp->PrintClient(), S_OK);
    EXPECT_TRUE(asp_host::calls_of(page.get()).empty());
    EXPECT_TRUE(fake.calls.empty());
}

TEST_F(BrowserPage, MissingPageIsAClearError)
{
    Variant url = text_variant(L"host");
    Variant user = text_variant(L"tester");
    ftp->put_URL(*url.get());
    ftp->put_Username(*user.get());
    ftp->OpenConnection();
    const auto error = error_of(ftp->PrintClient());
    EXPECT_EQ(error.number, ftp::errors::page_not_bound.number);
    EXPECT_EQ(error.source, ftp::errors::source);
    EXPECT_THAT(error.description, HasSubstr(L"No ASP page is bound"));
}

TEST_F(BrowserPage, ContextWithoutTheAspInterfaceIsReadByName)
{
    ComPtr<IDispatch> context;
    ASSERT_EQ(page->get_LateBoundContext(context.put()), S_OK);
    Variant result;
    ASSERT_EQ(ftp->OnStartPage(context.get(), result.put()), S_OK);
    EXPECT_EQ(V_VT(result.get()), VT_EMPTY);
    Variant url = text_variant(L"host");
    Variant user = text_variant(L"tester");
    ftp->put_URL(*url.get());
    ftp->put_Username(*user.get());
    ftp->OpenConnection();
    ASSERT_EQ(ftp->PrintClient(), S_OK);
    EXPECT_EQ(writes(), 16u);
}

TEST_F(BrowserPage, HostFailurePassesThroughUnchanged)
{
    bind_and_connect();
    page->FailNext(Bstr(L"Write").get(), static_cast<LONG>(0x80040123), Bstr(L"output refused").get());
    const auto error = error_of(ftp->PrintClient());
    EXPECT_EQ(error.number, static_cast<HRESULT>(0x80040123));
    EXPECT_EQ(error.source, L"Response object");
    EXPECT_EQ(error.description, L"output refused");
}

TEST_F(BrowserPage, MoreRowsThanA16BitCounterHolds)
{
    for (int index = 0; index < 33000; ++index)
        entries.push_back({"f" + std::to_string(index), false, 1});
    bind_and_connect();
    ASSERT_EQ(ftp->PrintClient(), S_OK);
    const std::wstring page_text = body();
    EXPECT_EQ(page_text.substr(page_text.size() - 8), L"</table>");
    EXPECT_THAT(page_text, HasSubstr(L"<tr class=\"ftp_alternating_line_1\"><td><a href=\"http://www.example/browse.asp?f=%2Ff32768\">"));
}

class Download : public BrowserPage {
protected:
    // The remote file's bytes, delivered in reads of whatever size.
    void serve_file(std::string bytes, size_t piece = 4096)
    {
        file_bytes = std::move(bytes);
        sent = 0;
        fake.on_InternetReadFile = [this, piece](HINTERNET, LPVOID buffer, DWORD wanted, LPDWORD bytes_read) {
            const size_t count = std::min({piece, static_cast<size_t>(wanted), file_bytes.size() - sent});
            std::memcpy(buffer, file_bytes.data() + sent, count);
            sent += count;
            *bytes_read = static_cast<DWORD>(count);
            return TRUE;
        };
    }

    // A fresh page and object, as for the next request.
    void new_request(bool buffered = true)
    {
        page = asp_host::new_page();
        set_server_variables(L"off", L"www.example", L"80", L"/browse.asp");
        ftp = create_instance<FTP>().query<_FTP>();
        ComPtr<IScriptingContext> context;
        asp_host::context_of(page.get())->QueryInterface(IID_IScriptingContext, reinterpret_cast<void**>(context.put()));
        ComPtr<IResponse> response;
        context->get_Response(response.put());
        ASSERT_EQ(response->put_Buffer(buffered ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
    }

    size_t calls_named(const std::wstring& name)
    {
        const std::vector<std::wstring> calls = asp_host::calls_of(page.get());
        return static_cast<size_t>(std::count(calls.begin(), calls.end(), name));
    }

    std::string file_bytes;
    size_t sent = 0;
};

constexpr const char* binary_no_cache = "67108866";  // FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_NO_CACHE_WRITE

TEST_F(Download, BytesInChunksThenTheEnd)
{
    std::string bytes;
    for (int index = 0; index < 10000; ++index)
        bytes += static_cast<char>(index * 7);
    serve_file(bytes, 3000);
    bind_and_connect();
    ftp->put_TransferType(TransferBinary);
    Variant path = text_variant(L"/pub/data/report 1.pdf");
    ASSERT_EQ(ftp->DownloadFileToClient(*path.get()), S_OK);
    EXPECT_EQ(asp_host::body_bytes_of(page.get()), bytes);
    EXPECT_THAT(asp_host::calls_of(page.get()),
                ElementsAre(L"Clear", L"ContentType=application/octet-stream",
                            L"AddHeader Content-Disposition: attachment;filename=\"report 1.pdf\"", L"BinaryWrite 3000",
                            L"BinaryWrite 3000", L"BinaryWrite 3000", L"BinaryWrite 1000", L"End"));
    EXPECT_THAT(fake.arguments_of("FtpOpenFileA"),
                ElementsAre("h2", "\"/pub/data/report 1.pdf\"", std::to_string(GENERIC_READ), binary_no_cache, "0"));
    EXPECT_EQ(fake.handles_open(), 2u);
}

// A host that buffers (IIS's 4 MB limit) is flushed every MiB; one that does
// not refuses Clear and Flush, and gets the bytes as they come.
TEST_F(Download, BufferedOrNotTheWholeFileArrives)
{
    const std::string bytes(5 * 1024 * 1024 + 10, 'b');
    for (const bool buffered : {true, false}) {
        SCOPED_TRACE(buffered);
        new_request(buffered);
        serve_file(bytes, 64 * 1024);
        bind_and_connect();
        ftp->put_TransferType(TransferBinary);
        Variant path = text_variant(L"big.bin");
        ASSERT_EQ(ftp->DownloadFileToClient(*path.get()), S_OK);
        EXPECT_EQ(asp_host::body_bytes_of(page.get()), bytes);
        EXPECT_EQ(calls_named(L"Clear"), buffered ? 1u : 0u);
        EXPECT_EQ(calls_named(L"Flush"), buffered ? 5u : 0u);
        EXPECT_EQ(asp_host::calls_of(page.get()).back(), L"End");
    }
}

// The server stops sending: the file is closed, what it says about the cut
// is no fault, and the page ends as after a whole download.
TEST_F(Download, AVisitorWhoLeftEndsTheTransfer)
{
    for (const bool page_link : {false, true}) {
        SCOPED_TRACE(page_link);
        new_request();
        ASSERT_EQ(page->put_DisconnectAfter(128 * 1024), S_OK);
        serve_file(std::string(1024 * 1024, 'v'), 64 * 1024);
        fake.on_InternetCloseHandle = [&](HINTERNET) {
            fake.last_response = "426 Connection closed; transfer aborted.";
            return TRUE;
        };
        bind_and_connect();
        HRESULT result = S_OK;
        if (page_link) {
            query(L"f", L"/big.bin");
            result = ftp->PrintClient();
        } else {
            Variant path = text_variant(L"big.bin");
            result = ftp->DownloadFileToClient(*path.get());
        }
        ASSERT_EQ(result, S_OK);
        EXPECT_EQ(sent, 128u * 1024);
        EXPECT_EQ(asp_host::body_bytes_of(page.get()).size(), 128u * 1024);
        EXPECT_EQ(fake.handles_open(), 2u);
        EXPECT_EQ(asp_host::calls_of(page.get()).back(), L"End");
        Variant transferred;
        ASSERT_EQ(ftp.query<_FTP2>()->get_BytesTransferred(transferred.put()), S_OK);
        EXPECT_EQ(V_I4(transferred.get()), 128 * 1024);
        fake.on_InternetCloseHandle = nullptr;
    }
}

TEST_F(Download, EmptyFileHasNoBinaryWrite)
{
    serve_file("");
    bind_and_connect();
    Variant path = text_variant(L"empty.txt");
    ASSERT_EQ(ftp->DownloadFileToClient(*path.get()), S_OK);
    EXPECT_THAT(asp_host::calls_of(page.get()),
                ElementsAre(L"Clear", L"ContentType=application/octet-stream",
                            L"AddHeader Content-Disposition: attachment;filename=empty.txt", L"End"));
    EXPECT_EQ(fake.arguments_of("FtpOpenFileA")[3], std::to_string(FTP_TRANSFER_TYPE_ASCII | INTERNET_FLAG_NO_CACHE_WRITE));
}

TEST_F(Download, NameCannotInjectHeaders)
{
    serve_file("x");
    bind_and_connect();
    // A line break never gets as far as the header: the name is refused
    // before the file is asked for.
    Variant path = text_variant(L"/in/evil\r\nSet-Cookie: a=b\t.txt");
    EXPECT_EQ(error_of(ftp->DownloadFileToClient(*path.get())).number, ftp::errors::open_file.number);
    EXPECT_TRUE(asp_host::calls_of(page.get()).empty());
    // Other control characters are taken out.
    path = text_variant(L"/in/evil\vSet-Cookie: a=b\t\x1f.txt");
    ASSERT_EQ(ftp->DownloadFileToClient(*path.get()), S_OK);
    EXPECT_THAT(asp_host::headers_of(page.get()),
                ElementsAre(L"Content-Disposition: attachment;filename=\"evilSet-Cookie: a=b.txt\""));
}

TEST_F(Download, MissingFileLeavesTheResponseAlone)
{
    fake.on_FtpOpenFileA = [&](auto...) -> HINTERNET {
        fake.last_error = 12003;
        fake.last_response = "550 missing.txt: No such file or directory.";
        return nullptr;
    };
    bind_and_connect();
    Variant path = text_variant(L"missing.txt");
    const auto error = error_of(ftp->DownloadFileToClient(*path.get()));
    EXPECT_EQ(error.number, ftp::errors::open_file.number);
    EXPECT_EQ(error.description, L"Error attempting to open file.550 missing.txt: No such file or directory.");
    EXPECT_TRUE(asp_host::calls_of(page.get()).empty());
}

TEST_F(Download, ReadFailureClosesTheFile)
{
    bind_and_connect();
    fake.on_InternetReadFile = [&, reads = 0](HINTERNET, LPVOID buffer, DWORD, LPDWORD bytes_read) mutable {
        if (reads++ > 0)
            return fake.fail(12030);
        std::memset(buffer, 'a', 4096);
        *bytes_read = 4096;
        return TRUE;
    };
    Variant path = text_variant(L"big.bin");
    const auto error = error_of(ftp->DownloadFileToClient(*path.get()));
    EXPECT_EQ(error.number, ftp::errors::read_file.number);
    EXPECT_EQ(error.description,
              L"Error reading file from the remote server.InternetReadFile error code: 12030 Message: ");
    EXPECT_EQ(fake.handles_open(), 2u);
    EXPECT_THAT(asp_host::calls_of(page.get()).back(), L"BinaryWrite 4096");
}

TEST_F(Download, TransferCutShortOrOverlongIsAReadError)
{
    const std::wstring prefix = L"Error reading file from the remote server. ";
    const std::string binary_150 = "150 Opening BINARY mode data connection for big.bin (100000 bytes).";
    struct Row {
        const char* name;
        Ftp_Transfer_Type type;
        std::optional<unsigned long long> platform_size;  // none: the platform cannot tell
        std::string open_reply;
        size_t served;
        std::string close_reply;
        const wchar_t* content_length;  // nullptr: no such header
        std::wstring reason;            // empty: the download succeeds
        size_t written;
    };
    const std::vector<Row> rows = {
        {"cut, size from the platform", TransferBinary, 100000, "150 Opening data connection.", 1000,
         "150 Opening data connection.", L"100000", L"The transfer ended early: 1000 of 100000 bytes arrived.", 1000},
        {"cut, size from the reply (Wine answers 0)", TransferBinary, 0, binary_150, 1000, binary_150, L"100000",
         L"The transfer ended early: 1000 of 100000 bytes arrived.", 1000},
        {"whole, size from the reply", TransferBinary, std::nullopt, "150 Opening (5 bytes).", 5,
         "226 Transfer complete.", L"5", L"", 5},
        {"cut, size over 4 GB", TransferBinary, 0x100000005ULL, "150 Opening.", 10, "226 Done.", L"4294967301",
         L"The transfer ended early: 10 of 4294967301 bytes arrived.", 10},
        {"more than announced", TransferBinary, 5, "150 Opening.", 8, "226 Done.", L"5",
         L"The transfer brought more than the 5 bytes announced.", 0},
        {"ascii counts differ: no length, no count", TransferASCII, 100000, binary_150, 1000, "226 Done.", nullptr,
         L"", 1000},
        {"no size, no final reply", TransferBinary, std::nullopt, "150 Opening.", 1000, "150 Opening.", nullptr,
         L"The transfer ended without the server's final reply.", 1000},
        {"no size, aborted by the server", TransferBinary, std::nullopt, "150 Opening.", 1000,
         "451 Transfer aborted.", nullptr, L"451 Transfer aborted.", 1000},
        {"hostile size text", TransferBinary, std::nullopt, "150 x (99999999999999999999 bytes).", 3,
         "226 Done.", nullptr, L"", 3},
        {"size text in a refusal", TransferBinary, std::nullopt, "550 x (100 bytes).", 3, "226 Done.", nullptr, L"",
         3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        page = asp_host::new_page();
        ftp = create_instance<FTP>().query<_FTP>();
        bind_and_connect();
        ASSERT_EQ(ftp->put_TransferType(row.type), S_OK);
        serve_file(std::string(row.served, 'd'));
        fake.on_FtpOpenFileA = [&](auto...) -> HINTERNET {
            fake.last_response = row.open_reply;
            return fake.new_handle();
        };
        fake.on_FtpGetFileSize = [&](HINTERNET, LPDWORD high) -> DWORD {
            if (!row.platform_size) {
                *high = 0;
                fake.last_error = ERROR_NOT_SUPPORTED;
                return INVALID_FILE_SIZE;
            }
            fake.last_error = NO_ERROR;
            *high = static_cast<DWORD>(*row.platform_size >> 32);
            return static_cast<DWORD>(*row.platform_size);
        };
        const std::string opened_file = "h" + std::to_string(fake.handles_opened() + 1);
        fake.on_InternetCloseHandle = [&](HINTERNET handle) {
            if (tests::FakePlatform::handle_name(handle) == opened_file)
                fake.last_response = row.close_reply;
            return TRUE;
        };
        Variant path = text_variant(L"big.bin");
        const auto error = error_of(ftp->DownloadFileToClient(*path.get()));
        if (row.reason.empty()) {
            EXPECT_EQ(error.number, S_OK);
            EXPECT_EQ(asp_host::calls_of(page.get()).back(), L"End");
        } else {
            EXPECT_EQ(error.number, ftp::errors::read_file.number);
            EXPECT_EQ(error.description, prefix + row.reason);
        }
        EXPECT_EQ(asp_host::body_bytes_of(page.get()).size(), row.written);
        std::vector<std::wstring> lengths;
        for (const std::wstring& header : asp_host::headers_of(page.get())) {
            if (header.rfind(L"Content-Length: ", 0) == 0)
                lengths.push_back(header.substr(16));
        }
        if (row.content_length)
            EXPECT_THAT(lengths, ElementsAre(row.content_length));
        else
            EXPECT_THAT(lengths, ::testing::IsEmpty());
        fake.on_InternetCloseHandle = nullptr;
        ftp.reset();
    }
}

TEST_F(Download, WithoutAPageTheFileIsClosedAgain)
{
    Variant url = text_variant(L"host");
    Variant user = text_variant(L"tester");
    ftp->put_URL(*url.get());
    ftp->put_Username(*user.get());
    ftp->OpenConnection();
    Variant path = text_variant(L"a.txt");
    EXPECT_EQ(error_of(ftp->DownloadFileToClient(*path.get())).number, ftp::errors::page_not_bound.number);
    EXPECT_EQ(fake.handles_open(), 2u);
}

TEST_F(Download, FileRequestedFromThePage)
{
    serve_file("content");
    query(L"d", L"/pub");
    query(L"f", L"/pub/x.txt");
    bind_and_connect();
    ASSERT_EQ(ftp->PrintClient(), S_OK);
    EXPECT_EQ(asp_host::body_bytes_of(page.get()), "content");
    EXPECT_THAT(fake.arguments_of("FtpSetCurrentDirectoryA")[1], "\"/pub\"");
    EXPECT_THAT(fake.arguments_of("FtpOpenFileA")[1], "\"/pub/x.txt\"");
    EXPECT_EQ(fake.count("FtpFindFirstFileA"), 0u);
}

TEST_F(Download, PostedFieldWithoutAFileIsAFailedDownload)
{
    page->SetForm(Bstr(L"u").get(), Bstr(L"1").get());
    fake.on_FtpOpenFileA = [&](HINTERNET, LPCSTR name, DWORD, DWORD, DWORD_PTR) -> HINTERNET {
        if (*name)
            return fake.new_handle();
        fake.last_error = 12003;
        fake.last_response = "550 No file name.";
        return nullptr;
    };
    bind_and_connect();
    const auto error = error_of(ftp->PrintClient());
    EXPECT_EQ(error.number, ftp::errors::open_file.number);
    EXPECT_TRUE(asp_host::calls_of(page.get()).empty());
}

TEST_F(BrowserPage, QueryThatWouldAddACommandIsRefusedBeforeAnyIsSent)
{
    struct Case {
        const wchar_t* key;
        std::wstring value;
        HRESULT number;
        const wchar_t* message;
    };
    for (const Case& example : {
             Case{L"d", L"/pub\r\nMKD x", ftp::errors::set_directory.number, L"Error setting directory."},
             Case{L"d", L"/pub\n", ftp::errors::set_directory.number, L"Error setting directory."},
             Case{L"d", std::wstring(L"/pub\0/x", 7), ftp::errors::set_directory.number, L"Error setting directory."},
             Case{L"f", L"/pub/a.txt\r\nDELE b.txt", ftp::errors::open_file.number,
                  L"Error attempting to open file."},
             Case{L"f", L"a.txt\r", ftp::errors::open_file.number, L"Error attempting to open file."},
             Case{L"f", std::wstring(L"a.txt\0.exe", 10), ftp::errors::open_file.number,
                  L"Error attempting to open file."},
         }) {
        page = asp_host::new_page();
        set_server_variables(L"off", L"h", L"80", L"/p.asp");
        page->SetQueryString(Bstr(example.key).get(), Bstr(example.value).get());
        ftp = create_instance<FTP>().query<_FTP>();
        bind_and_connect();
        fake.calls.clear();
        const auto error = error_of(ftp->PrintClient());
        EXPECT_EQ(error.number, example.number) << example.key;
        EXPECT_EQ(error.source, ftp::errors::source);
        EXPECT_EQ(error.description,
                  std::wstring(example.message) + L" The name holds a line break or NUL character, so it was not sent.");
        EXPECT_TRUE(fake.calls.empty()) << fake.calls.front().function;
        EXPECT_TRUE(asp_host::calls_of(page.get()).empty());
    }
}

TEST_F(Download, NameThatNeedsItIsQuoted)
{
    struct Case {
        std::wstring path;
        std::wstring value;
    };
    for (const Case& example : {
             Case{L"/pub/plain-1.0_final.txt", L"attachment;filename=plain-1.0_final.txt"},
             Case{L"it's~100%!.txt", L"attachment;filename=it's~100%!.txt"},
             Case{L"/in/semi;filename=evil.exe", L"attachment;filename=\"semi;filename=evil.exe\""},
             Case{L"/in/quo\"te;x=\".txt", L"attachment;filename=\"quo\\\"te;x=\\\".txt\""},
             Case{L"back\\slash.txt", L"attachment;filename=\"back\\\\slash.txt\""},
             Case{L"a,b (1).txt", L"attachment;filename=\"a,b (1).txt\""},
             Case{L"/pub/", L"attachment;filename=download"},
             Case{L"/pub/\x01\x1f", L"attachment;filename=download"},
             Case{L"r\u00e9sum\u00e9 1.pdf",
                  L"attachment;filename=\"r_sum_ 1.pdf\";filename*=UTF-8''r%C3%A9sum%C3%A9%201.pdf"},
             Case{L"\u65e5\u672c;%.txt", L"attachment;filename=\"__;%.txt\";filename*=UTF-8''%E6%97%A5%E6%9C%AC%3B%25.txt"},
             Case{L"\U0001F600\"x", L"attachment;filename=\"_\\\"x\";filename*=UTF-8''%F0%9F%98%80%22x"},
             Case{std::wstring(L"lone\xD800.txt"), L"attachment;filename=\"lone_.txt\";filename*=UTF-8''lone%EF%BF%BD.txt"},
         }) {
        EXPECT_EQ(web::content_disposition(example.path), example.value);
    }
}

// Text the code page cannot hold never names a remote file, so the header
// is shown through the member with names it can.
TEST_F(Download, AttachmentHeaderCarriesTheQuotedName)
{
    fake.ansi_code_page = 1252;
    for (const std::wstring path : {L"/in/semi;filename=evil.exe", L"/in/r\u00e9sum\u00e9 1.pdf"}) {
        page = asp_host::new_page();
        ftp = create_instance<FTP>().query<_FTP>();
        serve_file("x");
        bind_and_connect();
        Variant argument = text_variant(path);
        ASSERT_EQ(ftp->DownloadFileToClient(*argument.get()), S_OK);
        EXPECT_THAT(asp_host::headers_of(page.get()), ElementsAre(L"Content-Disposition: " + web::content_disposition(path)));
    }
}

}  // namespace
}  // namespace corvane
