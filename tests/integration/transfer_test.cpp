// Single files and whole trees between a real FTP server and the local disk.

#include <winsock2.h>

#include "ftp/ftp_errors.h"
#include "tests/common/local_files.h"
#include "tests/integration/automation.h"
#include "tests/integration/loopback_servers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

namespace corvane::integration {
namespace {

namespace fs = std::filesystem;
using ::testing::StartsWith;
using corvane::tests::read_bytes;
using corvane::tests::write_bytes;

// Every file under a folder, by relative path, with its bytes.
std::map<std::string, std::string> tree_of(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        std::string relative = fs::relative(item.path(), folder).generic_string();
        files[relative + (item.is_directory() ? "/" : "")] = item.is_directory() ? "" : read_bytes(item.path());
    }
    return files;
}

class TransferAgainstServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = std::make_unique<LoopbackServer>(LoopbackServer::start_ftp());
        local = fs::temp_directory_path() / ("corvane-transfer-" + std::to_string(GetCurrentProcessId()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(local);
        fs::create_directories(local);
        ftp = Automation::create(L"corvane.FTP");
        ftp.put(L"URL", L"127.0.0.1");
        ftp.put(L"Port", server->port());
        ftp.put(L"Username", L"tester");
        ftp.put(L"Password", L"secret");
        ftp.call(L"OpenConnection");
    }

    void TearDown() override
    {
        ftp = Automation();
        std::error_code ignored;
        fs::remove_all(local, ignored);
    }

    fs::path root() const { return fs::path(server->root_windows()); }
    std::wstring local_path(const char* relative) const { return (local / relative).wstring(); }

    std::unique_ptr<LoopbackServer> server;
    fs::path local;
    Automation ftp;
};

std::string all_byte_values()
{
    std::string bytes;
    for (int value = 0; value < 256; ++value)
        bytes += static_cast<char>(value);
    return bytes;
}

std::string random_bytes(size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator() & 0xFF);
    return bytes;
}

TEST_F(TransferAgainstServer, BinaryRoundTripIsByteExact)
{
    const std::string small = all_byte_values();
    const std::string large = random_bytes(5 * 1024 * 1024 + 123, 7);
    write_bytes(root() / "bytes.bin", small);
    write_bytes(root() / "large.bin", large);
    ftp.put(L"TransferType", 2);

    ftp.call(L"GetFile", {L"bytes.bin", local_path("bytes.bin"), false});
    ftp.call(L"GetFile", {L"/large.bin", local_path("large.bin"), false});
    EXPECT_EQ(read_bytes(local / "bytes.bin"), small);
    EXPECT_EQ(read_bytes(local / "large.bin"), large);

    ftp.call(L"PutFile", {local_path("bytes.bin"), L"bytes-back.bin"});
    ftp.call(L"PutFile", {local_path("large.bin"), L"large-back.bin"});
    EXPECT_EQ(read_bytes(root() / "bytes-back.bin"), small);
    EXPECT_EQ(read_bytes(root() / "large-back.bin"), large);
}

TEST_F(TransferAgainstServer, AsciiModeSendsTextLineEnds)
{
    write_bytes(root() / "lines.txt", "one\ntwo\n");
    ftp.call(L"GetFile", {L"lines.txt", local_path("lines.txt"), true});  // ASCII is the default
    EXPECT_EQ(read_bytes(local / "lines.txt"), "one\r\ntwo\r\n");
}

TEST_F(TransferAgainstServer, OverwriteOnlyWhenAskedTo)
{
    write_bytes(root() / "new.txt", "new");
    write_bytes(local / "new.txt", "old");
    const ScriptError error = error_of([&] { ftp.call(L"GetFile", {L"new.txt", local_path("new.txt"), false}); });
    EXPECT_EQ(error.number, ftp::errors::get_file.number);
    EXPECT_EQ(error.source, ftp::errors::source);
    EXPECT_THAT(narrow(error.description), StartsWith("Error getting file from the remote server.GetFile error code: 80 "));
    EXPECT_EQ(read_bytes(local / "new.txt"), "old");

    ftp.call(L"GetFile", {L"new.txt", local_path("new.txt"), true});
    EXPECT_EQ(read_bytes(local / "new.txt"), "new");
}

TEST_F(TransferAgainstServer, PutFileSplitsAtTheLastSlashAndComesBack)
{
    fs::create_directories(root() / "a" / "b");
    fs::create_directories(root() / "pub");
    write_bytes(local / "up.txt", "payload");
    ftp.put(L"Directory", L"/pub");

    ftp.call(L"PutFile", {local_path("up.txt"), L"here.txt"});
    EXPECT_EQ(read_bytes(root() / "pub" / "here.txt"), "payload");
    ftp.call(L"PutFile", {local_path("up.txt"), L"/a/b/c.txt"});
    EXPECT_EQ(read_bytes(root() / "a" / "b" / "c.txt"), "payload");
    EXPECT_EQ(ftp.get(L"Directory").text(), L"/pub/");

    // A backslash is part of the name, not a separator.
    ftp.call(L"PutFile", {local_path("up.txt"), L"x\\y.txt"});
    EXPECT_EQ(ftp.call(L"GetDirectoryListing", {1}).text().find(L"x\\y.txt\r\n") != std::wstring::npos, true);

    // A failure changes back as a success does.
    const ScriptError error = error_of([&] { ftp.call(L"PutFile", {local_path("up.txt"), L"/a/"}); });
    EXPECT_EQ(error.number, ftp::errors::put_file.number);
    EXPECT_THAT(narrow(error.description), StartsWith("Error putting file to remote server."));
    EXPECT_EQ(ftp.get(L"Directory").text(), L"/pub/");
}

// Local names reach the file system exactly as written, through every
// member that takes one: fullwidth "\..\.." that a best fit would make a
// climb to a\y, and Greek that the ANSI code page cannot hold.
TEST_F(TransferAgainstServer, LocalPathsExactlyAsWritten)
{
    const std::wstring climbing = L"x\uFF3C\uFF0E\uFF0E\uFF3C\uFF0E\uFF0E\uFF3Cy";
    const std::wstring greek = L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC";
    write_bytes(root() / "src.txt", "remote");
    write_bytes(root() / "tree" / "f.txt", "remote");
    LoopbackServer web = LoopbackServer::start_http();
    web.route("/body", "HTTP/1.1 200 OK\r\nContent-Length: 6\r\nConnection: close\r\n\r\nremote");
    Automation http = Automation::create(L"corvane.HTTP");
    http.put(L"URL", L"http://127.0.0.1:" + std::to_wstring(web.port()) + L"/body");
    ftp.put(L"TransferType", 2);

    using Call = std::function<void(const std::wstring& local_path, const std::wstring& remote_path)>;
    struct Member {
        const char* name;
        bool folder;  // the local path names a folder holding f.txt
        bool upload;
        Call call;
    };
    const std::vector<Member> members = {
        {"GetFile", false, false, [&](auto& path, auto&) { ftp.call(L"GetFile", {L"src.txt", path, true}); }},
        {"ResumeFile", false, false, [&](auto& path, auto&) { ftp.call(L"ResumeFile", {L"src.txt", path}); }},
        {"GetDirectory", true, false, [&](auto& path, auto&) { ftp.call(L"GetDirectory", {L"/tree", path, true, true}); }},
        {"SaveToFile", false, false, [&](auto& path, auto&) { http.call(L"SaveToFile", {path}); }},
        {"PutFile", false, true, [&](auto& path, auto& remote) { ftp.call(L"PutFile", {path, remote}); }},
        {"ResumePutFile", false, true, [&](auto& path, auto& remote) { ftp.call(L"ResumePutFile", {path, remote}); }},
        {"PutDirectory", true, true, [&](auto& path, auto& remote) { ftp.call(L"PutDirectory", {path, remote, true}); }},
    };
    int row = 0;
    for (const Member& member : members) {
        for (const std::wstring& name : {climbing, greek}) {
            SCOPED_TRACE(std::string(member.name) + " " + narrow(name));
            corvane::tests::remove_tree((local / "a").wstring());
            const fs::path exact = local / "a" / "b" / name;
            const fs::path file = member.folder ? exact / "f.txt" : exact;
            // Where a best fit would read or write instead.
            const fs::path climbed = member.folder ? local / "a" / "y" / "f.txt" : local / "a" / "y";
            fs::create_directories(local / "a" / "b");
            const std::string remote = "up" + std::to_string(++row);
            if (member.upload) {
                write_bytes(file, "exact");
                write_bytes(climbed, "decoy");
                fs::create_directories(root() / remote);
            }
            const std::wstring remote_path = L"/" + fs::path(remote).wstring() + (member.folder ? L"" : L"/f.txt");
            const ScriptError error = error_of([&] { member.call(exact.wstring(), remote_path); });
            EXPECT_EQ(error.number, S_OK) << narrow(error.description);
            if (member.upload) {
                EXPECT_EQ(read_bytes(root() / remote / "f.txt"), "exact");
            } else {
                EXPECT_EQ(read_bytes(file), "remote");
                EXPECT_FALSE(fs::exists(climbed));
            }
        }
    }
}

TEST_F(TransferAgainstServer, WithoutAConnection)
{
    Automation idle = Automation::create(L"corvane.FTP");
    write_bytes(local / "up.txt", "x");
    EXPECT_EQ(error_of([&] { idle.call(L"GetFile", {L"a", local_path("a"), true}); }).number,
              ftp::errors::get_file.number);
    EXPECT_EQ(error_of([&] { idle.call(L"PutFile", {local_path("up.txt"), L"a"}); }).number,
              ftp::errors::not_connected.number);
    EXPECT_FALSE(fs::exists(local / "a"));
}

// A tree of three levels and a few hundred files.
void make_tree(const fs::path& top)
{
    for (int first = 0; first < 3; ++first) {
        for (int second = 0; second < 4; ++second) {
            const fs::path folder = top / ("level1-" + std::to_string(first)) / ("level2-" + std::to_string(second));
            for (int file = 0; file < 20; ++file)
                write_bytes(folder / ("f" + std::to_string(file) + ".bin"),
                            random_bytes(static_cast<size_t>(file * 37 + second), first * 100 + file));
        }
        write_bytes(top / ("level1-" + std::to_string(first)) / "top.txt", "level one " + std::to_string(first));
    }
    write_bytes(top / "root.txt", "root file");
    fs::create_directories(top / "empty");
}

TEST_F(TransferAgainstServer, TreeDownAndUpAgain)
{
    make_tree(root() / "tree");
    ftp.put(L"TransferType", 2);
    ftp.put(L"Directory", L"/");

    ftp.call(L"GetDirectory", {L"/tree", local_path("down"), false, true});
    EXPECT_EQ(ftp.get(L"Directory").text(), L"/");
    const auto downloaded = tree_of(local / "down");
    EXPECT_EQ(downloaded, tree_of(root() / "tree"));
    EXPECT_GT(downloaded.size(), 250u);

    fs::create_directories(root() / "copy");
    ftp.call(L"PutDirectory", {local_path("down"), L"/copy", true});
    EXPECT_EQ(ftp.get(L"Directory").text(), L"/");
    EXPECT_EQ(tree_of(root() / "copy"), downloaded);

    // A second upload onto the existing tree.
    write_bytes(local / "down" / "level1-0" / "added.txt", "added");
    ftp.call(L"PutDirectory", {local_path("down"), L"/copy", true});
    EXPECT_EQ(read_bytes(root() / "copy" / "level1-0" / "added.txt"), "added");
    EXPECT_EQ(tree_of(root() / "copy"), tree_of(local / "down"));
}

TEST_F(TransferAgainstServer, TreesNamedRelativeToTheCurrentDirectory)
{
    make_tree(root() / "tree");
    ftp.put(L"TransferType", 2);
    ftp.put(L"Directory", L"/tree");
    ftp.call(L"GetDirectory", {L"level1-0", local_path("relative-down"), false, true});
    EXPECT_EQ(ftp.get(L"Directory").text(), L"/tree/");
    EXPECT_EQ(tree_of(local / "relative-down"), tree_of(root() / "tree" / "level1-0"));

    fs::create_directories(root() / "tree" / "relative-up");
    ftp.call(L"PutDirectory", {local_path("relative-down"), L"relative-up", true});
    EXPECT_EQ(ftp.get(L"Directory").text(), L"/tree/");
    EXPECT_EQ(tree_of(root() / "tree" / "relative-up"), tree_of(local / "relative-down"));
}

TEST_F(TransferAgainstServer, WithoutTraversalOnlyTheTopLevel)
{
    make_tree(root() / "tree");
    ftp.call(L"GetDirectory", {L"/tree", local_path("top"), true, false});
    EXPECT_EQ(tree_of(local / "top"), (std::map<std::string, std::string>{{"root.txt", "root file"}}));

    fs::create_directories(root() / "up");
    ftp.call(L"PutDirectory", {(local / "top").wstring(), L"/up", false});
    make_tree(local / "full");
    ftp.call(L"PutDirectory", {local_path("full"), L"/up", false});
    EXPECT_EQ(tree_of(root() / "up"), (std::map<std::string, std::string>{{"root.txt", "root file"}}));
}

TEST_F(TransferAgainstServer, OverwriteFalseStopsAtTheFirstExistingFile)
{
    fs::create_directories(root() / "flat");
    for (const char* name : {"one.txt", "two.txt", "three.txt", "four.txt"})
        write_bytes(root() / "flat" / name, name);
    const std::wstring listing = [&] {
        ftp.put(L"Directory", L"/flat");
        std::wstring text = ftp.call(L"GetDirectoryListing", {1}).text();
        ftp.put(L"Directory", L"/");
        return text;
    }();
    // The third file in listing order is already there locally.
    std::vector<std::string> order;
    std::wistringstream lines(listing);
    for (std::wstring line; std::getline(lines, line);)
        order.push_back(narrow(line.substr(0, line.size() - 1)));
    ASSERT_EQ(order.size(), 4u);
    write_bytes(local / "flat" / order[2], "kept");

    const ScriptError error =
        error_of([&] { ftp.call(L"GetDirectory", {L"/flat", local_path("flat"), false, true}); });
    EXPECT_EQ(error.number, ftp::errors::get_file.number);
    EXPECT_EQ(read_bytes(local / "flat" / order[0]), order[0]);
    EXPECT_EQ(read_bytes(local / "flat" / order[1]), order[1]);
    EXPECT_EQ(read_bytes(local / "flat" / order[2]), "kept");
    EXPECT_FALSE(fs::exists(local / "flat" / order[3]));
    EXPECT_EQ(ftp.get(L"Directory").text(), L"/");
}

TEST_F(TransferAgainstServer, MissingLocalFolderForUpload)
{
    fs::create_directories(root() / "target");
    ftp.put(L"Directory", L"/");
    const std::wstring missing = local_path("missing");
    const ScriptError error = error_of([&] { ftp.call(L"PutDirectory", {missing, L"/target", true}); });
    EXPECT_EQ(error.number, ftp::errors::missing_folder.number);
    EXPECT_EQ(error.source, ftp::errors::source);
    EXPECT_THAT(narrow(error.description),
                StartsWith(narrow(L"Folder :" + missing + L" does not exist.PutDirectory error code: ")));
    EXPECT_EQ(ftp.get(L"Directory").text(), L"/");
}

TEST_F(TransferAgainstServer, EmptyRemoteDirectoryMakesTheLocalFolder)
{
    fs::create_directories(root() / "nothing");
    ftp.call(L"GetDirectory", {L"/nothing", local_path("made"), false, true});
    EXPECT_TRUE(fs::is_directory(local / "made"));
    EXPECT_TRUE(fs::is_empty(local / "made"));
}

}  // namespace
}  // namespace corvane::integration
