// Hostile names against a real FTP server: texts that would add a command
// line, listed names that would leave the target folder of a tree
// download, and remote paths longer than the usual buffer.

#include <winsock2.h>

#include "ftp/ftp_errors.h"
#include "tests/common/local_files.h"
#include "tests/integration/automation.h"
#include "tests/integration/loopback_servers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <wininet.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace corvane::integration {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using corvane::tests::read_bytes;

using corvane::tests::remove_tree;

class HostileNamesAgainstServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = std::make_unique<LoopbackServer>(LoopbackServer::start_ftp_logging_commands());
        local = fs::temp_directory_path() / ("corvane-hostile-" + std::to_string(GetCurrentProcessId()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        remove_tree(local.wstring());
        fs::create_directories(local);
    }

    void TearDown() override { remove_tree(local.wstring()); }

    Automation connected(const wchar_t* password = L"secret")
    {
        Automation ftp = Automation::create(L"corvane.FTP");
        ftp.put(L"URL", L"127.0.0.1");
        ftp.put(L"Port", server->port());
        ftp.put(L"Username", L"tester");
        ftp.put(L"Password", password);
        // Passive: Wine's WinInet mixes up the replies of active-mode
        // sessions when one closes after a listing.
        ftp.put(L"Passive", true);
        return ftp;
    }

    // Stored through the server, which takes any name Linux does; the
    // test's own WinInet session, apart from the component.
    void upload(const std::wstring& path, const std::string& content)
    {
        HINTERNET session = InternetOpenW(L"test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        HINTERNET connection = InternetConnectW(session, L"127.0.0.1", static_cast<INTERNET_PORT>(server->port()),
                                                L"tester", L"secret", INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
        HINTERNET file = FtpOpenFileW(connection, path.c_str(), GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0);
        EXPECT_TRUE(file) << narrow(path);
        if (file) {
            DWORD written = 0;
            InternetWriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written);
            InternetCloseHandle(file);
        }
        InternetCloseHandle(connection);
        InternetCloseHandle(session);
    }

    void make_remote_directory(const std::wstring& path)
    {
        HINTERNET session = InternetOpenW(L"test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        HINTERNET connection = InternetConnectW(session, L"127.0.0.1", static_cast<INTERNET_PORT>(server->port()),
                                                L"tester", L"secret", INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
        EXPECT_TRUE(FtpCreateDirectoryW(connection, path.c_str())) << narrow(path);
        InternetCloseHandle(connection);
        InternetCloseHandle(session);
    }

    fs::path root() const { return fs::path(server->root_windows()); }

    std::unique_ptr<LoopbackServer> server;
    fs::path local;
};

TEST_F(HostileNamesAgainstServer, NoMemberSendsASecondCommand)
{
    fs::create_directories(root() / "pub");
    fs::create_directories(root() / "victim");
    std::ofstream(root() / "pub" / "keep.txt") << "keep";
    std::ofstream(local / "up.txt") << "up";
    const std::wstring local_file = (local / "up.txt").wstring();
    const std::wstring local_folder = local.wstring();
    const std::wstring download_folder = (local / "down").wstring();

    struct Row {
        const wchar_t* member;
        std::vector<Value> arguments;
        HRESULT number;
        const wchar_t* injected;  // the directory the second command would make
    };
    const std::vector<Row> rows = {
        {L"Directory", {L"/pub\r\nMKD injected-directory"}, ftp::errors::set_directory.number, L"injected-directory"},
        {L"CreateDirectory", {L"made\r\nMKD injected-create"}, ftp::errors::create_directory.number,
         L"injected-create"},
        {L"RemoveDirectory", {L"victim\r\nMKD injected-remove"}, ftp::errors::remove_directory.number,
         L"injected-remove"},
        {L"RenameFile", {L"victim\r\nMKD injected-rename-old", L"renamed"}, ftp::errors::rename_file.number,
         L"injected-rename-old"},
        {L"RenameFile", {L"victim", L"renamed\r\nMKD injected-rename-new"}, ftp::errors::rename_file.number,
         L"injected-rename-new"},
        {L"DeleteFile", {L"pub/keep.txt\r\nMKD injected-delete"}, ftp::errors::delete_file.number, L"injected-delete"},
        {L"GetFile", {L"pub/keep.txt\r\nMKD injected-get", local_folder + L"\\got.txt", true},
         ftp::errors::get_file.number, L"injected-get"},
        {L"PutFile", {local_file, L"up.txt\r\nMKD injected-put"}, ftp::errors::put_file.number, L"injected-put"},
        {L"GetDirectory", {L"/pub\r\nMKD injected-get-tree", download_folder, true, true},
         ftp::errors::get_file.number, L"injected-get-tree"},
        {L"PutDirectory", {local_folder, L"/pub\r\nMKD injected-put-tree", true}, ftp::errors::put_file.number,
         L"injected-put-tree"},
        {L"DownloadFileToClient", {L"/pub/keep.txt\r\nMKD injected-download"}, ftp::errors::open_file.number,
         L"injected-download"},
        {L"ExecuteCommand", {L"NOOP\r\nMKD injected-command", false}, ftp::errors::execute_command.number,
         L"injected-command"},
    };
    for (const Row& row : rows) {
        // A session of its own: a second command, once sent, leaves its reply
        // behind for whatever the session does next.
        Automation ftp = connected();
        ftp.call(L"OpenConnection");
        const ScriptError error = error_of([&] {
            if (std::wstring(row.member) == L"Directory") {
                ftp.put(row.member, row.arguments[0]);
                return;
            }
            switch (row.arguments.size()) {
            case 1: ftp.call(row.member, {row.arguments[0]}); break;
            case 2: ftp.call(row.member, {row.arguments[0], row.arguments[1]}); break;
            case 3: ftp.call(row.member, {row.arguments[0], row.arguments[1], row.arguments[2]}); break;
            default: ftp.call(row.member, {row.arguments[0], row.arguments[1], row.arguments[2], row.arguments[3]});
            }
        });
        EXPECT_EQ(error.number, row.number) << narrow(row.injected);
        EXPECT_EQ(error.source, ftp::errors::source) << narrow(row.injected);
        EXPECT_THAT(narrow(error.description), EndsWith("holds a line break or NUL character, so it was not sent."))
            << narrow(row.injected);
        EXPECT_FALSE(fs::exists(root() / row.injected)) << narrow(row.injected);
    }

    // The password goes on the wire as PASS: a line break in it would log
    // in and then run whatever follows.
    Automation login = connected(L"secret\r\nMKD injected-login");
    const ScriptError error = error_of([&] { login.call(L"OpenConnection"); });
    EXPECT_EQ(error.number, ftp::errors::open_connection.number);
    EXPECT_FALSE(fs::exists(root() / "injected-login"));

    // The log does record what a session sends.
    Automation ftp = connected();
    ftp.call(L"OpenConnection");
    ftp.call(L"CreateDirectory", {L"made-plainly"});
    const std::vector<std::string> received = server->received_commands();
    EXPECT_THAT(received, Contains("MKD made-plainly"));
    EXPECT_THAT(received, Not(Contains(StartsWith("MKD injected"))));
    EXPECT_EQ(read_bytes(root() / "pub" / "keep.txt"), "keep");
    EXPECT_TRUE(fs::is_directory(root() / "victim"));
    EXPECT_FALSE(fs::exists(root() / "renamed"));
    EXPECT_FALSE(fs::exists(root() / "up.txt"));
    EXPECT_FALSE(fs::exists(local / "down"));
}

TEST_F(HostileNamesAgainstServer, TreeDownloadRefusesListedNamesThatAreNotPlain)
{
    struct Case {
        std::wstring name;
        const char* shown;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {L"..\\x", "\"..\\x\"", "holds a path separator"},
        {L"a:b", "\"a:b\"", "holds a drive or stream colon"},
        {L"nul", "\"nul\"", "is a reserved device name"},
        {L"com1.txt", "\"com1.txt\"", "is a reserved device name"},
        {L"trail.", "\"trail.\"", "ends with a dot or a space"},
        {L"x\x01y", "\"x\\x01y\"", "holds a control character"},
    };
    Automation ftp = connected();
    ftp.call(L"OpenConnection");
    ftp.put(L"TransferType", 2);
    for (size_t index = 0; index < cases.size(); ++index) {
        const Case& example = cases[index];
        const std::wstring folder = L"case" + std::to_wstring(index);
        make_remote_directory(folder);
        upload(folder + L"/first.txt", "first");
        upload(folder + L"/" + example.name, "payload");
        const fs::path target = local / folder;

        const ScriptError error = error_of([&] { ftp.call(L"GetDirectory", {L"/" + folder, target.wstring(), true, true}); });
        EXPECT_EQ(error.number, ftp::errors::get_file.number) << example.shown;
        EXPECT_EQ(narrow(error.description), "Error getting file from the remote server. The entry " +
                                                 std::string(example.shown) + " listed in /" + narrow(folder) + " " +
                                                 example.reason + ", so nothing of that directory was copied.");
        EXPECT_FALSE(fs::exists(target / "first.txt")) << example.shown;
        EXPECT_FALSE(fs::exists(local / "x")) << example.shown;
    }

    // A directory so named would carry its whole subtree outside.
    make_remote_directory(L"tree");
    make_remote_directory(L"tree/..\\..\\escaped");
    upload(L"tree/..\\..\\escaped/payload.txt", "payload");
    const ScriptError error =
        error_of([&] { ftp.call(L"GetDirectory", {L"/tree", (local / "deep" / "tree").wstring(), true, true}); });
    EXPECT_EQ(error.number, ftp::errors::get_file.number);
    EXPECT_THAT(narrow(error.description), HasSubstr("\"..\\..\\escaped\" listed in /tree holds a path separator"));
    EXPECT_FALSE(fs::exists(local / "escaped"));
    EXPECT_FALSE(fs::exists(local / "deep" / "escaped"));

    // Plain names still come down, the directory's own entries skipped.
    make_remote_directory(L"fine");
    upload(L"fine/..hidden", "a");
    upload(L"fine/com10", "b");
    upload(L"fine/null.txt", "c");
    ftp.call(L"GetDirectory", {L"/fine", (local / "fine").wstring(), true, true});
    EXPECT_EQ(read_bytes(local / "fine" / "..hidden"), "a");
    EXPECT_EQ(read_bytes(local / "fine" / "com10"), "b");
    EXPECT_EQ(read_bytes(local / "fine" / "null.txt"), "c");
}

TEST_F(HostileNamesAgainstServer, RemotePathsLongerThanTheUsualBuffer)
{
    Automation ftp = connected();
    ftp.call(L"OpenConnection");
    ftp.put(L"TransferType", 2);
    // Six levels of 60 characters: 366 characters in all.
    std::wstring deep = L"/";
    for (int level = 0; level < 6; ++level) {
        const std::wstring segment = std::wstring(58, static_cast<wchar_t>(L'a' + level)) + L"-" + std::to_wstring(level);
        ftp.call(L"CreateDirectory", {segment});
        ftp.put(L"Directory", segment);
        deep += segment + L"/";
    }
    ASSERT_GT(deep.size(), 300u);
    EXPECT_EQ(ftp.get(L"Directory").text(), deep);

    // Into a subfolder: the upload reads the directory to come back to it.
    std::ofstream(local / "up.txt", std::ios::binary) << "deep payload";
    ftp.call(L"CreateDirectory", {L"sub"});
    ftp.call(L"PutFile", {(local / "up.txt").wstring(), L"sub/up.txt"});
    EXPECT_EQ(ftp.get(L"Directory").text(), deep);

    // The whole tree down from there, and back where it started.
    ftp.call(L"GetDirectory", {deep + L"sub", (local / "down").wstring(), true, true});
    EXPECT_EQ(read_bytes(local / "down" / "up.txt"), "deep payload");
    EXPECT_EQ(ftp.get(L"Directory").text(), deep);
}

}  // namespace
}  // namespace corvane::integration
