// Names in UTF-8 against the loopback server, which always speaks UTF-8:
// accented, Greek and Japanese names through every member that sends or
// lists one, and the browser page's links through the test ASP host.

#include <winsock2.h>

#include "ftp/ftp_errors.h"
#include "tests/common/local_files.h"
#include "tests/integration/automation.h"
#include "tests/integration/loopback_servers.h"
#include "tools/asp_host/test_page.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <cctype>
#include <set>

namespace corvane::integration {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using corvane::tests::read_bytes;
using corvane::tests::remove_tree;
using corvane::tests::write_bytes;

// Greek letters whose UTF-8 holds the bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D,
// which Windows-1252 leaves undefined, as well as the ordinary ones.
const std::vector<std::wstring> names = {
    L"caf\u00E9.txt",
    L"\u65E5\u672C\u8A9E.txt",
    L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC",
    L"\u038F\u0390\u03C1\u03CD\u039D.txt",
};
const std::wstring greek_directory = L"\u039A\u03B1\u03C4\u03AC\u03BB\u03BF\u03B3\u03BF\u03C2\u03C1\u03CD\u039D\u038F\u0390";

std::string utf8(const std::wstring& text)
{
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr,
                        nullptr);
    return bytes;
}

std::wstring percent_encoded(const std::wstring& text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::wstring encoded;
    for (const unsigned char byte : utf8(text)) {
        if (std::isalnum(byte)) {
            encoded += static_cast<wchar_t>(byte);
        } else {
            encoded += L'%';
            encoded += static_cast<wchar_t>(hex[byte >> 4]);
            encoded += static_cast<wchar_t>(hex[byte & 15]);
        }
    }
    return encoded;
}

Value object_value(IDispatch* object)
{
    Value value;
    V_VT(value.get()) = VT_DISPATCH;
    V_DISPATCH(value.get()) = object;
    object->AddRef();
    return value;
}

class Utf8Names : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = std::make_unique<LoopbackServer>(LoopbackServer::start_ftp_logging_commands());
        root = fs::path(server->root_windows());
        local = fs::temp_directory_path() / ("corvane-utf8-" + std::to_string(GetCurrentProcessId()));
        remove_tree(local.wstring());
        fs::create_directories(local);
        for (size_t index = 0; index < names.size(); ++index)
            write_bytes(root / names[index], "content " + std::to_string(index));
    }

    void TearDown() override { remove_tree(local.wstring()); }

    Automation connected(bool utf8)
    {
        Automation ftp = Automation::create(L"corvane.FTP");
        ftp.put(L"URL", L"127.0.0.1");
        ftp.put(L"Port", server->port());
        ftp.put(L"Username", L"tester");
        ftp.put(L"Password", L"secret");
        ftp.put(L"Passive", true);
        ftp.put(L"TransferType", 2);
        ftp.put(L"UTF8", utf8);
        ftp.call(L"OpenConnection");
        return ftp;
    }

    std::set<std::wstring> listed(const Automation& ftp)
    {
        std::set<std::wstring> result;
        const Automation files(ftp.call(L"Files").object());
        for (const Value& file : files.for_each())
            result.insert(Automation(file.object()).get(L"Filename").text());
        return result;
    }

    std::unique_ptr<LoopbackServer> server;
    fs::path root;
    fs::path local;
};

TEST_F(Utf8Names, ListedSentAndTransferredUnchanged)
{
    Automation ftp = connected(true);
    EXPECT_TRUE(ftp.get(L"UTF8").integer() != 0);
    // A tree comes down under the server's own names, whatever the code page.
    ftp.call(L"GetDirectory", {L"/", (local / "tree").wstring(), true, false});
    for (size_t index = 0; index < names.size(); ++index)
        EXPECT_EQ(read_bytes(local / "tree" / names[index]), "content " + std::to_string(index));
    const std::set<std::wstring> shown = listed(ftp);
    for (size_t index = 0; index < names.size(); ++index) {
        const std::wstring& name = names[index];
        SCOPED_TRACE(utf8(name));
        EXPECT_THAT(shown, Contains(name));
        const fs::path got = local / ("got" + std::to_string(index));
        ftp.call(L"GetFile", {name, got.wstring(), true});
        EXPECT_EQ(read_bytes(got), "content " + std::to_string(index));
        ftp.call(L"PutFile", {got.wstring(), L"up-" + name});
        EXPECT_EQ(read_bytes(root / (L"up-" + name)), "content " + std::to_string(index));
    }

    ftp.call(L"CreateDirectory", {greek_directory});
    ftp.put(L"Directory", greek_directory);
    EXPECT_EQ(ftp.get(L"Directory").text(), L"/" + greek_directory + L"/");
    ftp.call(L"PutFile", {(local / "got0").wstring(), names[2]});
    EXPECT_EQ(listed(ftp), std::set<std::wstring>{names[2]});
    ftp.put(L"Directory", L"/");
    ftp.call(L"RenameFile", {names[0], greek_directory + L"/" + names[1]});
    ftp.call(L"DeleteFile", {names[3]});
    EXPECT_EQ(read_bytes(root / greek_directory / names[1]), "content 0");
    EXPECT_FALSE(fs::exists(root / names[0]));
    EXPECT_FALSE(fs::exists(root / names[3]));

    // The server saw the names' UTF-8 and was asked for it after the login.
    const std::vector<std::string> received = server->received_commands();
    EXPECT_THAT(received, Contains("OPTS UTF8 ON"));
    EXPECT_THAT(received, Contains("MKD " + utf8(greek_directory)));
    EXPECT_THAT(received, Contains("DELE " + utf8(names[3])));
}

TEST_F(Utf8Names, OffByDefaultAndUnchangedUntilTheNextConnect)
{
    Automation ftp = Automation::create(L"corvane.FTP");
    EXPECT_EQ(ftp.get(L"UTF8").integer(), 0);

    Automation ansi = connected(false);
    // The system code page reads the server's UTF-8 bytes as other text.
    EXPECT_THAT(listed(ansi), Not(Contains(names[0])));
    ansi.put(L"UTF8", true);
    EXPECT_THAT(listed(ansi), Not(Contains(names[0])));
    ansi.call(L"CloseConnection");
    ansi.call(L"OpenConnection");
    EXPECT_THAT(listed(ansi), Contains(names[0]));
    EXPECT_THAT(server->received_commands(), Contains("OPTS UTF8 ON"));
}

TEST_F(Utf8Names, BrowserPageLinksComeBackAsTheSameNames)
{
    fs::create_directories(root / greek_directory);
    write_bytes(root / greek_directory / names[1], "inside");
    const auto page_with_query = [](const std::wstring& query) {
        ComPtr<IAspTestPage> page = asp_host::new_page();
        Bstr name(L"SERVER_NAME"), host(L"localhost"), port_name(L"SERVER_PORT"), port(L"80"),
            script_name(L"SCRIPT_NAME"), script(L"/b.asp");
        page->SetServerVariable(name.get(), host.get());
        page->SetServerVariable(port_name.get(), port.get());
        page->SetServerVariable(script_name.get(), script.get());
        if (!query.empty()) {
            Bstr text(query);
            page->ParseQueryString(text.get());
        }
        return page;
    };
    const auto on_page = [&](IAspTestPage* page) {
        Automation ftp = Automation::create(L"corvane.FTP");
        ftp.call(L"OnStartPage", {object_value(asp_host::context_of(page).get())});
        ftp.put(L"URL", L"127.0.0.1");
        ftp.put(L"Port", server->port());
        ftp.put(L"Username", L"tester");
        ftp.put(L"Password", L"secret");
        ftp.put(L"Passive", true);
        ftp.put(L"TransferType", 2);
        ftp.put(L"UTF8", true);
        ftp.call(L"OpenConnection");
        return ftp;
    };

    ComPtr<IAspTestPage> listing = page_with_query(L"");
    on_page(listing.get()).call(L"PrintClient");
    const std::wstring body = asp_host::body_of(listing.get());
    // The Greek name as character references, its link as UTF-8.
    EXPECT_THAT(body, HasSubstr(L"?d=%2F" + percent_encoded(greek_directory) +
                                L"\">&#922;&#945;&#964;&#940;&#955;&#959;&#947;&#959;&#962;&#961;&#973;&#925;&#911;&#912;</a>"));
    EXPECT_THAT(body, HasSubstr(L"?f=%2F" + percent_encoded(names[1]) + L"\">&#26085;&#26412;&#35486;.txt</a>"));
    for (wchar_t character : body)
        EXPECT_LT(character, 0x80) << "the page text depends on its code page";

    ComPtr<IAspTestPage> directory = page_with_query(L"d=%2F" + percent_encoded(greek_directory));
    on_page(directory.get()).call(L"PrintClient");
    EXPECT_THAT(asp_host::body_of(directory.get()),
                HasSubstr(L"?f=%2F" + percent_encoded(greek_directory) + L"%2F" + percent_encoded(names[1])));

    ComPtr<IAspTestPage> file = page_with_query(L"f=%2F" + percent_encoded(greek_directory) + L"%2F" +
                                                percent_encoded(names[1]));
    on_page(file.get()).call(L"PrintClient");
    EXPECT_EQ(asp_host::body_bytes_of(file.get()), "inside");
    EXPECT_THAT(asp_host::headers_of(file.get()),
                Contains(HasSubstr(L"filename*=UTF-8''%E6%97%A5%E6%9C%AC%E8%AA%9E.txt")));

    ComPtr<IAspTestPage> download = page_with_query(L"");
    on_page(download.get()).call(L"DownloadFileToClient", {L"/" + names[3]});
    EXPECT_EQ(asp_host::body_bytes_of(download.get()), "content 3");

    // A link that is not UTF-8 is refused, not read in the page's code page.
    ComPtr<IAspTestPage> broken = page_with_query(L"f=%2Fcaf%E9.txt");
    Automation ftp = on_page(broken.get());
    const ScriptError error = error_of([&] { ftp.call(L"PrintClient"); });
    EXPECT_EQ(error.number, ftp::errors::open_file.number);
    EXPECT_EQ(asp_host::body_bytes_of(broken.get()), "");
}

}  // namespace
}  // namespace corvane::integration
