// Remote sizes, resumed transfers, byte counts, reply codes and timeouts
// against real loopback servers, called by name as a script calls them.

#include <winsock2.h>

#include "ftp/ftp_errors.h"
#include "tests/common/local_files.h"
#include "tests/integration/automation.h"
#include "tests/integration/loopback_servers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <random>

namespace corvane::integration {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using corvane::tests::read_bytes;
using corvane::tests::write_bytes;

std::string random_bytes(size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator() & 0xFF);
    return bytes;
}

fs::path fresh_local_folder()
{
    const fs::path folder = fs::temp_directory_path() /
                            ("corvane-resume-" + std::to_string(GetCurrentProcessId()) + "-" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

Automation ftp_for(const LoopbackServer& server)
{
    Automation ftp = Automation::create(L"corvane.FTP");
    ftp.put(L"URL", L"127.0.0.1");
    ftp.put(L"Port", server.port());
    ftp.put(L"Username", L"tester");
    ftp.put(L"Password", L"secret");
    return ftp;
}

class ResumeAgainstServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = std::make_unique<LoopbackServer>(LoopbackServer::start_ftp());
        local = fresh_local_folder();
        ftp = ftp_for(*server);
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
    long long reply_code() const { return ftp.get(L"LastReplyCode").integer(); }

    std::unique_ptr<LoopbackServer> server;
    fs::path local;
    Automation ftp;
};

TEST_F(ResumeAgainstServer, RemoteFileSizeBelowAndAbove2GiB)
{
    write_bytes(root() / "pub" / "small.bin", std::string(5000, 's'));
    {
        // Sparse: 5 GiB that take no room.
        std::ofstream(root() / "huge.bin", std::ios::binary).put('h');
        fs::resize_file(root() / "huge.bin", 5ull << 30);
    }
    const Value small = ftp.call(L"RemoteFileSize", {L"pub/small.bin"});
    EXPECT_EQ(small.type(), VT_I4);
    EXPECT_EQ(small.integer(), 5000);
    EXPECT_EQ(reply_code(), 213);
    const Value huge = ftp.call(L"RemoteFileSize", {L"/huge.bin"});
    EXPECT_EQ(huge.type(), VT_R8);
    EXPECT_EQ(huge.integer(), 5ll << 30);

    const ScriptError error = error_of([&] { ftp.call(L"RemoteFileSize", {L"missing.bin"}); });
    EXPECT_EQ(error.number, ftp::errors::remote_file_size.number);
    EXPECT_THAT(narrow(error.description), StartsWith("Error getting the size of the remote file. 550 "));
    EXPECT_EQ(reply_code(), 550);
    // The session is still usable, and the code follows the next step.
    ftp.put(L"Directory", L"pub");
    EXPECT_EQ(reply_code(), 250);
}

TEST_F(ResumeAgainstServer, InterruptedDownloadResumesByteExact)
{
    const std::string whole = random_bytes(700 * 1024 + 17, 11);
    write_bytes(root() / "data.bin", whole);
    ftp.put(L"TransferType", 1);  // ASCII: a resume is binary regardless
    for (const size_t kept : {size_t{0}, size_t{123457}, whole.size() - 1}) {
        SCOPED_TRACE(kept);
        write_bytes(local / "data.bin", whole.substr(0, kept));
        ftp.call(L"ResumeFile", {L"data.bin", local_path("data.bin")});
        EXPECT_EQ(read_bytes(local / "data.bin"), whole);
        EXPECT_EQ(ftp.get(L"BytesTransferred").integer(), static_cast<long long>(whole.size() - kept));
        EXPECT_EQ(reply_code(), 226);
    }
    // Complete already: nothing more comes.
    ftp.call(L"ResumeFile", {L"data.bin", local_path("data.bin")});
    EXPECT_EQ(read_bytes(local / "data.bin"), whole);
    EXPECT_EQ(ftp.get(L"BytesTransferred").integer(), 0);
}

TEST_F(ResumeAgainstServer, InterruptedUploadResumesByteExact)
{
    const std::string whole = random_bytes(600 * 1024 + 5, 12);
    write_bytes(local / "up.bin", whole);
    struct Row {
        const char* name;
        std::function<void()> prepare;
        size_t sent;
    };
    const std::vector<Row> rows = {
        {"nothing there", [&] { fs::remove(root() / "up.bin"); }, whole.size()},
        {"part there", [&] { write_bytes(root() / "up.bin", whole.substr(0, 200001)); }, whole.size() - 200001},
        {"all there", [&] { write_bytes(root() / "up.bin", whole); }, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.prepare();
        ftp.call(L"ResumePutFile", {local_path("up.bin"), L"up.bin"});
        EXPECT_EQ(read_bytes(root() / "up.bin"), whole);
        EXPECT_EQ(ftp.get(L"BytesTransferred").integer(), static_cast<long long>(row.sent));
    }
}

TEST_F(ResumeAgainstServer, LocalFileLongerThanTheRemoteOneIsLeftAlone)
{
    write_bytes(root() / "short.bin", "12345");
    write_bytes(local / "short.bin", "1234567");
    const ScriptError error = error_of([&] { ftp.call(L"ResumeFile", {L"short.bin", local_path("short.bin")}); });
    EXPECT_EQ(error.number, ftp::errors::get_file.number);
    EXPECT_THAT(narrow(error.description), HasSubstr("The local file is longer than the remote one."));
    EXPECT_EQ(read_bytes(local / "short.bin"), "1234567");
}

TEST_F(ResumeAgainstServer, BytesTransferredCountsEachTransfer)
{
    const std::string bytes = random_bytes(3 * 1024 * 1024 + 1, 13);
    write_bytes(root() / "a.bin", bytes);
    write_bytes(root() / "tree" / "one.bin", std::string(1000, '1'));
    write_bytes(root() / "tree" / "sub" / "two.bin", std::string(2000, '2'));
    ftp.put(L"TransferType", 2);
    EXPECT_EQ(ftp.get(L"BytesTransferred").integer(), 0);
    ftp.call(L"GetFile", {L"a.bin", local_path("a.bin"), true});
    EXPECT_EQ(ftp.get(L"BytesTransferred").integer(), static_cast<long long>(bytes.size()));
    write_bytes(local / "b.bin", "four");
    ftp.call(L"PutFile", {local_path("b.bin"), L"b.bin"});
    EXPECT_EQ(ftp.get(L"BytesTransferred").integer(), 4);
    ftp.call(L"GetDirectory", {L"tree", local_path("tree"), true, true});
    EXPECT_EQ(ftp.get(L"BytesTransferred").integer(), 3000);
    // A failure starts the count over too.
    error_of([&] { ftp.call(L"GetFile", {L"missing.bin", local_path("m.bin"), true}); });
    EXPECT_EQ(ftp.get(L"BytesTransferred").integer(), 0);
}

TEST(ResumeAgainstMisbehavingServer, RefusedRestartLeavesTheLocalFileIntact)
{
    LoopbackServer server = LoopbackServer::start_misbehaving_ftp("rest-refused");
    const fs::path local = fresh_local_folder();
    write_bytes(local / "big.bin", "part of it");
    Automation ftp = ftp_for(server);
    ftp.call(L"OpenConnection");
    const ScriptError error =
        error_of([&] { ftp.call(L"ResumeFile", {L"big.bin", (local / "big.bin").wstring()}); });
    EXPECT_EQ(error.number, ftp::errors::resume_refused.number);
    EXPECT_EQ(error.description, L"The server refused to resume the transfer. 502 Command not implemented.");
    EXPECT_EQ(read_bytes(local / "big.bin"), "part of it");
    EXPECT_EQ(ftp.get(L"LastReplyCode").integer(), 502);
    std::error_code ignored;
    fs::remove_all(local, ignored);
}

// Silent at the greeting or after a command: the wait ends with the
// member's own error, and the object can connect again. Wine ends a wait
// blocked on the control channel only after its own 30 s, whatever handle
// is closed; a stalled data transfer it never ends (the fake platform
// covers those), so the bound here is loose.
TEST(TimeoutAgainstMisbehavingServer, SilentServerEndsTheWaitAfterTheTimeout)
{
    struct Row {
        const char* scenario;
        bool connects;
        std::function<void(Automation&)> call;
        HRESULT number;
        const wchar_t* message;
    };
    const std::vector<Row> rows = {
        {"silent", false, [](Automation& ftp) { ftp.call(L"OpenConnection"); }, ftp::errors::open_connection.number,
         L"Error opening FTP connection."},
        {"silent-after-login", true, [](Automation& ftp) { ftp.put(L"Directory", L"sub"); },
         ftp::errors::set_directory.number, L"Error setting directory."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.scenario);
        LoopbackServer server = LoopbackServer::start_misbehaving_ftp(row.scenario);
        Automation ftp = ftp_for(server);
        ftp.put(L"Timeout", 2);
        if (row.connects)
            ftp.call(L"OpenConnection");
        const DWORD started = GetTickCount();
        const ScriptError error = error_of([&] { row.call(ftp); });
        // Before the platform's own 60 s wait for a greeting.
        EXPECT_LT(GetTickCount() - started, 50000u);
        EXPECT_EQ(error.number, row.number);
        // The platform's wait is ended by the session's own watchdog, the
        // own engine's by its socket waits; both say so alike.
        EXPECT_EQ(error.description, std::wstring(row.message) + L" Timed out: the server sent nothing for 2 seconds.");
        EXPECT_EQ(ftp.get(L"LastReplyCode").integer(), 0);
        if (row.connects) {
            // Closed: the directory needs a connection again, and one opens.
            const ScriptError closed = error_of([&] { ftp.get(L"Directory"); });
            EXPECT_EQ(closed.number, ftp::errors::not_connected.number);
            ftp.call(L"OpenConnection");
            EXPECT_EQ(ftp.get(L"Directory").text(), L"/");
            ftp.call(L"CloseConnection");
        }
    }
}

}  // namespace
}  // namespace corvane::integration
