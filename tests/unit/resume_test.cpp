// Timeouts, reply codes, remote sizes and resumed transfers through the
// platform seam: hostile SIZE replies, refused restarts, sizes that do not
// add up, and a wait the watchdog has to end.

#include "frame/class_table.h"
#include "component/ftp.h"
#include "ftp/ftp_errors.h"
#include "tests/common/local_files.h"
#include "tests/unit/com_test_support.h"
#include "tests/unit/fake_platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>

namespace corvane {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using tests::error_of;
using tests::read_bytes;
using tests::text_variant;
using tests::write_bytes;

// A scripted server on the control channel: each command's reply goes to
// the platform's record, and a negative one fails the call as the platform
// does (12003).
class ResumeAndSizes : public ::testing::Test {
protected:
    ResumeAndSizes()
    {
        fake.on_FormatMessageA = [](DWORD, LPCVOID, DWORD, DWORD, LPSTR, DWORD, const DWORD_PTR*) -> DWORD { return 0; };
        fake.on_FtpCommandA = [this](HINTERNET, BOOL, DWORD, LPCSTR command, DWORD_PTR, HINTERNET*) -> BOOL {
            const std::string text(command);
            const std::string verb = text.substr(0, text.find(' '));
            const auto reply = replies.find(verb);
            fake.last_response = reply == replies.end() ? "502 Command not implemented." : reply->second;
            if (verb == "SIZE" && reply != replies.end() && sizes.size() > 0) {
                fake.last_response = sizes.front();
                if (sizes.size() > 1)
                    sizes.erase(sizes.begin());
            }
            // An empty record: the platform kept none, after a success.
            const int code = std::atoi(fake.last_response.c_str());
            return code < 400 ? TRUE : fake.fail(12003);
        };
        // A file's transfer ends with the server's 226 as it is closed.
        fake.on_FtpOpenFileA = [this](HINTERNET, LPCSTR, DWORD, DWORD, DWORD_PTR) {
            fake.last_response = "150 Opening BINARY mode data connection.";
            remote_file = fake.new_handle();
            return remote_file;
        };
        fake.on_InternetCloseHandle = [this](HINTERNET handle) {
            if (handle == remote_file)
                fake.last_response = "226 Transfer complete.";
            return TRUE;
        };
        ftp = create_instance<FTP>().query<_FTP2>();
        Variant url = text_variant(L"host");
        Variant user = text_variant(L"tester");
        ftp->put_URL(*url.get());
        ftp->put_Username(*user.get());
        EXPECT_EQ(ftp->OpenConnection(), S_OK);
        local = fs::temp_directory_path() /
                ("corvane-resume-" + std::to_string(GetCurrentProcessId()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(local);
        fs::create_directories(local);
    }
    ~ResumeAndSizes() override
    {
        ftp = ComPtr<_FTP2>();
        std::error_code ignored;
        fs::remove_all(local, ignored);
    }

    // The remote file's bytes from the offset the last REST named, in
    // reads of at most 7000 bytes.
    void serve_download(const std::string& remote_bytes)
    {
        fake.on_InternetReadFile = [this, remote_bytes](HINTERNET, LPVOID buffer, DWORD size, LPDWORD read) {
            // The offsets of these tests fit any size_t.
            const auto start = static_cast<size_t>(restart_offset()) + served;
            const size_t count =
                start >= remote_bytes.size() ? 0 : std::min<size_t>({size, 7000, remote_bytes.size() - start});
            if (count > 0)
                std::memcpy(buffer, remote_bytes.data() + start, count);
            served += count;
            *read = static_cast<DWORD>(count);
            return TRUE;
        };
    }

    unsigned long long restart_offset() const
    {
        unsigned long long offset = 0;
        for (const tests::PlatformCall& call : fake.calls_to("FtpCommandA")) {
            if (call.arguments[3].rfind("\"REST ", 0) == 0)
                offset = std::stoull(call.arguments[3].substr(6));
        }
        return offset;
    }

    // The command lines sent, from the `first`-th on.
    std::vector<std::string> commands(size_t first = 0) const
    {
        std::vector<std::string> sent;
        const std::vector<tests::PlatformCall> made = fake.calls_to("FtpCommandA");
        for (size_t index = first; index < made.size(); ++index)
            sent.push_back(made[index].arguments[3]);
        return sent;
    }

    HRESULT resume_file(const wchar_t* remote, const fs::path& path)
    {
        Variant remote_value = text_variant(remote);
        Variant local_value = text_variant(path.wstring());
        return ftp->ResumeFile(*remote_value.get(), *local_value.get());
    }

    HRESULT resume_put_file(const fs::path& path, const wchar_t* remote)
    {
        Variant remote_value = text_variant(remote);
        Variant local_value = text_variant(path.wstring());
        return ftp->ResumePutFile(*local_value.get(), *remote_value.get());
    }

    double bytes_transferred()
    {
        VARIANT value;
        VariantInit(&value);
        EXPECT_EQ(ftp->get_BytesTransferred(&value), S_OK);
        Variant number;
        EXPECT_EQ(VariantChangeType(number.get(), &value, 0, VT_R8), S_OK);
        VariantClear(&value);
        return V_R8(number.get());
    }

    tests::FakePlatform fake;
    std::map<std::string, std::string> replies = {
        {"TYPE", "200 Type set to: Binary."}, {"SIZE", "213 0"}, {"REST", "350 Restarting."}};
    // Successive SIZE replies; the last one stays.
    std::vector<std::string> sizes;
    size_t served = 0;
    HINTERNET remote_file = nullptr;
    ComPtr<_FTP2> ftp;
    fs::path local;
};

TEST_F(ResumeAndSizes, RemoteFileSizeTakesOnlyA213WithPlainDigits)
{
    struct Row {
        const char* reply;
        VARTYPE type;  // VT_EMPTY: the call fails
        double size;
        const wchar_t* description;
    };
    const std::vector<Row> rows = {
        {"213 5000", VT_I4, 5000, nullptr},
        {"213 0", VT_I4, 0, nullptr},
        {"213 2147483647", VT_I4, 2147483647.0, nullptr},
        {"213 2147483648", VT_R8, 2147483648.0, nullptr},
        {"213 5368709120", VT_R8, 5368709120.0, nullptr},
        {"213 999999999999999999", VT_R8, 999999999999999999.0, nullptr},
        {"213 9999999999999999999", VT_EMPTY, 0, L"213 9999999999999999999"},
        {"213 12a", VT_EMPTY, 0, L"213 12a"},
        {"213 -5", VT_EMPTY, 0, L"213 -5"},
        {"213  5", VT_EMPTY, 0, L"213  5"},
        {"213 5 ", VT_EMPTY, 0, L"213 5 "},
        {"213-5000", VT_EMPTY, 0, L"213-5000"},
        {"213 ", VT_EMPTY, 0, L"213 "},
        {"213", VT_EMPTY, 0, L"213"},
        {"200 5000", VT_EMPTY, 0, L"200 5000"},
        {"", VT_EMPTY, 0, L"The server's reply is not known."},
        {"550 /pub/a.bin: No such file or directory.", VT_EMPTY, 0, L"550 /pub/a.bin: No such file or directory."},
        {"502 Command not implemented.", VT_EMPTY, 0, L"502 Command not implemented."},
        {"500 Unknown command.", VT_EMPTY, 0, L"500 Unknown command."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.reply);
        replies["SIZE"] = row.reply;
        const size_t before = commands().size();
        Variant remote = text_variant(L"/pub/a.bin");
        VARIANT result;
        VariantInit(&result);
        const HRESULT outcome = ftp->RemoteFileSize(*remote.get(), &result);
        EXPECT_THAT(commands(before),
                    ElementsAre("\"TYPE I\"", "\"SIZE /pub/a.bin\""));
        if (row.type == VT_EMPTY) {
            const auto error = error_of(outcome);
            EXPECT_EQ(error.number, ftp::errors::remote_file_size.number);
            EXPECT_EQ(error.description, std::wstring(L"Error getting the size of the remote file. ") + row.description);
            continue;
        }
        ASSERT_EQ(outcome, S_OK);
        EXPECT_EQ(V_VT(&result), row.type);
        EXPECT_EQ(row.type == VT_I4 ? V_I4(&result) : V_R8(&result), row.size);
    }
}

TEST_F(ResumeAndSizes, RemoteNameThatWouldAddACommandIsRefusedBeforeAnythingIsSent)
{
    const size_t before = fake.count("FtpCommandA");
    Variant remote = text_variant(L"a.bin\r\nDELE b.bin");
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(error_of(ftp->RemoteFileSize(*remote.get(), &result)).number, ftp::errors::remote_file_size.number);
    EXPECT_EQ(resume_file(L"a.bin\r\nDELE b.bin", local / "a.bin") , ftp::errors::get_file.number);
    EXPECT_EQ(resume_put_file(local / "a.bin", L"a.bin\nDELE b.bin"), ftp::errors::put_file.number);
    EXPECT_EQ(fake.count("FtpCommandA"), before);
}

// The code comes from the step that just ended, and only from a reply the
// platform recorded for it.
TEST_F(ResumeAndSizes, LastReplyCodeIsTheLastStepsOwnReply)
{
    struct Row {
        const char* name;
        std::string record_before;
        std::function<BOOL()> change_directory;
        LONG code;
    };
    const std::vector<Row> rows = {
        {"success with its reply", "230 Logged in.",
         [&] { fake.last_response = "250 Directory changed."; return TRUE; }, 250},
        {"success, the same reply again", "250 Directory changed.",
         [&] { return TRUE; }, 250},
        {"success with nothing recorded", "230 Logged in.",
         [&] { fake.last_response.clear(); return TRUE; }, 0},
        {"failure with its reply", "230 Logged in.",
         [&] { fake.last_response = "550 No such directory."; return fake.fail(12003); }, 550},
        {"failure with an older reply left", "230 Logged in.",
         [&] { return fake.fail(12002); }, 0},
        {"success with data in the record", "230 Logged in.",
         [&] { fake.last_response = "drwxr-xr-x 2 a b 0 Jan 1 00:00 x"; return TRUE; }, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fake.last_response = row.record_before;
        fake.on_FtpSetCurrentDirectoryA = [&](HINTERNET, LPCSTR) { return row.change_directory(); };
        Variant directory = text_variant(L"sub");
        ftp->put_Directory(*directory.get());
        LONG code = -1;
        ASSERT_EQ(ftp->get_LastReplyCode(&code), S_OK);
        EXPECT_EQ(code, row.code);
    }
}

TEST_F(ResumeAndSizes, LastReplyCodeBeforeAnyConnectionAndAfterTheLogin)
{
    ComPtr<_FTP2> fresh = create_instance<FTP>().query<_FTP2>();
    LONG code = -1;
    ASSERT_EQ(fresh->get_LastReplyCode(&code), S_OK);
    EXPECT_EQ(code, 0);
    fake.last_response = "230 Logged in.";
    Variant url = text_variant(L"host");
    Variant user = text_variant(L"tester");
    fresh->put_URL(*url.get());
    fresh->put_Username(*user.get());
    ASSERT_EQ(fresh->OpenConnection(), S_OK);
    ASSERT_EQ(fresh->get_LastReplyCode(&code), S_OK);
    EXPECT_EQ(code, 230);
}

TEST_F(ResumeAndSizes, DownloadContinuesFromTheLocalLengthByteExact)
{
    std::string remote_bytes;
    for (int index = 0; index < 20000; ++index)
        remote_bytes += static_cast<char>(index * 31 % 256);
    struct Row {
        const char* name;
        size_t local_length;  // npos: no local file
        std::vector<std::string> commands;
    };
    const std::vector<Row> rows = {
        {"no local file", std::string::npos, {"\"TYPE I\"", "\"SIZE big.bin\""}},
        {"empty local file", 0, {"\"TYPE I\"", "\"SIZE big.bin\""}},
        {"part there", 12345, {"\"TYPE I\"", "\"SIZE big.bin\"", "\"REST 12345\""}},
        {"all but one byte", 19999, {"\"TYPE I\"", "\"SIZE big.bin\"", "\"REST 19999\""}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path path = local / "big.bin";
        fs::remove(path);
        if (row.local_length != std::string::npos)
            write_bytes(path, remote_bytes.substr(0, row.local_length));
        replies["SIZE"] = "213 20000";
        served = 0;
        serve_download(remote_bytes);
        const size_t commands_before = commands().size();
        const size_t opens_before = fake.count("FtpOpenFileA");
        ASSERT_EQ(resume_file(L"big.bin", path), S_OK);
        EXPECT_EQ(read_bytes(path), remote_bytes);
        EXPECT_EQ(commands(commands_before),
                  row.commands);
        ASSERT_EQ(fake.count("FtpOpenFileA"), opens_before + 1);
        // Binary, whatever the script chose: offsets count bytes.
        EXPECT_EQ(fake.arguments_of("FtpOpenFileA", opens_before)[2], std::to_string(GENERIC_READ));
        EXPECT_EQ(std::stoul(fake.arguments_of("FtpOpenFileA", opens_before)[3]) & 3u, FTP_TRANSFER_TYPE_BINARY);
        const size_t kept = row.local_length == std::string::npos ? 0 : row.local_length;
        EXPECT_EQ(bytes_transferred(), static_cast<double>(20000 - kept));
    }
}

TEST_F(ResumeAndSizes, DownloadThatCannotOrNeedNotResumeLeavesTheLocalFileAlone)
{
    const std::string part(3000, 'p');
    struct Row {
        const char* name;
        std::string size_reply;
        std::string rest_reply;
        std::string local_bytes;
        HRESULT number;  // S_OK: nothing to do
        const wchar_t* description;
    };
    const std::vector<Row> rows = {
        {"REST refused", "213 5000", "502 Command not implemented.", part, ftp::errors::resume_refused.number,
         L"The server refused to resume the transfer. 502 Command not implemented."},
        {"REST not understood", "213 5000", "501 Resuming transfers not allowed in ASCII mode.", part,
         ftp::errors::resume_refused.number,
         L"The server refused to resume the transfer. 501 Resuming transfers not allowed in ASCII mode."},
        {"local longer", "213 2000", "350 Restarting.", part, ftp::errors::get_file.number,
         L"Error getting file from the remote server. The local file is longer than the remote one. The local "
         L"file has 3000 bytes, the remote one 2000 bytes."},
        {"remote missing", "550 No such file.", "350 Restarting.", part, ftp::errors::remote_file_size.number,
         L"Error getting the size of the remote file. 550 No such file."},
        {"already complete", "213 3000", "350 Restarting.", part, S_OK, L""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path path = local / "part.bin";
        write_bytes(path, row.local_bytes);
        replies["SIZE"] = row.size_reply;
        replies["REST"] = row.rest_reply;
        const size_t opens_before = fake.count("FtpOpenFileA");
        const auto error = error_of(resume_file(L"part.bin", path));
        EXPECT_EQ(error.number, row.number);
        EXPECT_EQ(error.description, row.description);
        EXPECT_EQ(read_bytes(path), row.local_bytes);
        EXPECT_EQ(fake.count("FtpOpenFileA"), opens_before);
        EXPECT_EQ(bytes_transferred(), 0.0);
    }
}

TEST_F(ResumeAndSizes, DownloadThatDoesNotAddUpIsAnError)
{
    const std::string remote_bytes(10000, 'r');
    struct Row {
        const char* name;
        std::string served_bytes;  // what the server sends after REST 4000
        const wchar_t* description;
    };
    const std::vector<Row> rows = {
        {"ends early", remote_bytes.substr(4000, 5000),
         L"The resumed transfer did not complete: the local and remote sizes differ. The local file has 9000 bytes, "
         L"the remote one 10000 bytes."},
        {"sends more", remote_bytes.substr(4000) + std::string(20000, 'x'),
         L"The resumed transfer did not complete: the local and remote sizes differ. The server sent more than the "
         L"6000 bytes left."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path path = local / "short.bin";
        write_bytes(path, remote_bytes.substr(0, 4000));
        replies["SIZE"] = "213 10000";
        size_t position = 0;
        const std::string served_bytes = row.served_bytes;
        fake.on_InternetReadFile = [&position, served_bytes](HINTERNET, LPVOID buffer, DWORD size, LPDWORD read) {
            const size_t count = std::min<size_t>({size, 7000, served_bytes.size() - position});
            std::memcpy(buffer, served_bytes.data() + position, count);
            position += count;
            *read = static_cast<DWORD>(count);
            return TRUE;
        };
        const auto error = error_of(resume_file(L"short.bin", path));
        EXPECT_EQ(error.number, ftp::errors::resume_incomplete.number);
        EXPECT_EQ(error.description, row.description);
        // Never longer than the remote file, and never cut.
        const std::string after = read_bytes(path);
        EXPECT_LE(after.size(), remote_bytes.size());
        EXPECT_EQ(after.substr(0, 4000), remote_bytes.substr(0, 4000));
        EXPECT_EQ(bytes_transferred(), static_cast<double>(after.size() - 4000));
    }
}

TEST_F(ResumeAndSizes, UploadContinuesFromTheRemoteSize)
{
    std::string local_bytes;
    for (int index = 0; index < 150000; ++index)
        local_bytes += static_cast<char>(index * 13 % 251);
    struct Row {
        const char* name;
        std::string first_size;
        size_t offset;
        std::vector<std::string> commands;
    };
    const std::vector<Row> rows = {
        {"no remote file", "550 No such file.", 0,
         {"\"TYPE I\"", "\"SIZE up.bin\"", "\"TYPE I\"", "\"SIZE up.bin\""}},
        {"part there", "213 70000", 70000,
         {"\"TYPE I\"", "\"SIZE up.bin\"", "\"REST 70000\"", "\"TYPE I\"", "\"SIZE up.bin\""}},
    };
    const fs::path path = local / "up.bin";
    write_bytes(path, local_bytes);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sizes = {row.first_size, "213 150000"};
        std::string received;
        fake.on_InternetWriteFile = [&received](HINTERNET, LPCVOID buffer, DWORD size, LPDWORD written) {
            received.append(static_cast<const char*>(buffer), size);
            *written = size;
            return TRUE;
        };
        const size_t commands_before = commands().size();
        const size_t opens_before = fake.count("FtpOpenFileA");
        ASSERT_EQ(resume_put_file(path, L"up.bin"), S_OK);
        EXPECT_EQ(received, local_bytes.substr(row.offset));
        EXPECT_EQ(commands(commands_before),
                  row.commands);
        ASSERT_EQ(fake.count("FtpOpenFileA"), opens_before + 1);
        EXPECT_EQ(fake.arguments_of("FtpOpenFileA", opens_before)[2], std::to_string(GENERIC_WRITE));
        EXPECT_EQ(bytes_transferred(), static_cast<double>(local_bytes.size() - row.offset));
    }
}

TEST_F(ResumeAndSizes, UploadThatDoesNotAddUpOrCannotResumeIsAnError)
{
    const fs::path path = local / "up.bin";
    write_bytes(path, std::string(5000, 'u'));
    struct Row {
        const char* name;
        std::vector<std::string> sizes;
        std::string rest_reply;
        HRESULT number;
        const wchar_t* description;
        size_t writes;
    };
    const std::vector<Row> rows = {
        {"size after differs", {"213 1000", "213 4999"}, "350 Restarting.", ftp::errors::resume_incomplete.number,
         L"The resumed transfer did not complete: the local and remote sizes differ. The local file has 5000 bytes, "
         L"the remote one 4999 bytes.",
         1},
        {"REST refused", {"213 1000"}, "502 Command not implemented.", ftp::errors::resume_refused.number,
         L"The server refused to resume the transfer. 502 Command not implemented.", 0},
        {"remote longer", {"213 6000"}, "350 Restarting.", ftp::errors::put_file.number,
         L"Error putting file to remote server. The remote file is longer than the local one. The local file has "
         L"5000 bytes, the remote one 6000 bytes.",
         0},
        {"SIZE unsupported", {"502 Command not implemented."}, "350 Restarting.",
         ftp::errors::remote_file_size.number,
         L"Error getting the size of the remote file. 502 Command not implemented.", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sizes = row.sizes;
        replies["REST"] = row.rest_reply;
        const size_t writes_before = fake.count("InternetWriteFile");
        const auto error = error_of(resume_put_file(path, L"up.bin"));
        EXPECT_EQ(error.number, row.number);
        EXPECT_EQ(error.description, row.description);
        EXPECT_EQ(fake.count("InternetWriteFile"), writes_before + row.writes);
        EXPECT_EQ(fake.handles_open(), 2u);  // the session and its connection; no file left open
    }
}

TEST_F(ResumeAndSizes, TimeoutTakesOneTo86400Seconds)
{
    LONG seconds = 0;
    ASSERT_EQ(ftp->get_Timeout(&seconds), S_OK);
    EXPECT_EQ(seconds, 60);
    for (LONG bad : {0L, -1L, 86401L}) {
        const auto error = error_of(ftp->put_Timeout(bad));
        EXPECT_EQ(error.number, ftp::errors::invalid_timeout.number);
        EXPECT_EQ(error.description, L"The timeout must be between 1 and 86400 seconds.");
    }
    ASSERT_EQ(ftp->get_Timeout(&seconds), S_OK);
    EXPECT_EQ(seconds, 60);
    // While connected both live handles get the new value at once.
    const size_t calls_before = fake.calls.size();
    for (LONG good : {1L, 86400L}) {
        ASSERT_EQ(ftp->put_Timeout(good), S_OK);
        ASSERT_EQ(ftp->get_Timeout(&seconds), S_OK);
        EXPECT_EQ(seconds, good);
    }
    std::vector<std::string> set;
    for (size_t index = calls_before; index < fake.calls.size(); ++index) {
        const tests::PlatformCall& call = fake.calls[index];
        if (call.function == "InternetSetOptionA" && call.arguments[1] == std::to_string(INTERNET_OPTION_RECEIVE_TIMEOUT))
            set.push_back(call.arguments[0] + "=" + call.arguments[2]);
    }
    EXPECT_THAT(set, ElementsAre("h1=1000", "h2=1000", "h1=86400000", "h2=86400000"));
}

// A call the platform never ends, on the control channel or in the middle
// of a file: the watchdog closes the connection, the member raises its own
// error, and the object can connect again.
TEST_F(ResumeAndSizes, WaitWithoutEndIsEndedByClosingTheConnection)
{
    ASSERT_EQ(ftp->put_Timeout(1), S_OK);
    HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(closed, nullptr);
    // Bounded: a watchdog that never fires fails the test, not the program.
    auto wait_for_close = [&] { return WaitForSingleObject(closed, 20000) == WAIT_OBJECT_0; };
    struct Row {
        const char* name;
        std::function<void()> hang;
        std::function<HRESULT()> call;
        HRESULT number;
        const wchar_t* message;
    };
    const std::vector<Row> rows = {
        {"no reply to a command",
         [&] {
             fake.on_FtpSetCurrentDirectoryA = [&](HINTERNET, LPCSTR) {
                 return wait_for_close() ? fake.fail(ERROR_INTERNET_OPERATION_CANCELLED) : TRUE;
             };
         },
         [&] {
             Variant directory = text_variant(L"sub");
             return ftp->put_Directory(*directory.get());
         },
         ftp::errors::set_directory.number, L"Error setting directory."},
        {"a file stalls",
         [&] {
             replies["SIZE"] = "213 5000";
             fake.on_InternetReadFile = [&](HINTERNET, LPVOID, DWORD, LPDWORD read) {
                 *read = 0;  // Wine's read after the close: a plain end
                 return wait_for_close() ? TRUE : fake.fail(ERROR_INTERNET_TIMEOUT);
             };
         },
         [&] { return resume_file(L"stall.bin", local / "stall.bin"); }, ftp::errors::get_file.number,
         L"Error getting file from the remote server."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ResetEvent(closed);
        HINTERNET connection = nullptr;
        for (const HINTERNET handle : fake.open_handles())
            connection = std::max(connection, handle);  // handed out after the session's
        fake.on_InternetCloseHandle = [&, connection](HINTERNET handle) {
            if (handle == connection)
                SetEvent(closed);
            return TRUE;
        };
        row.hang();
        const auto error = error_of(row.call());
        EXPECT_EQ(error.number, row.number);
        EXPECT_EQ(error.description, std::wstring(row.message) + L" Timed out: the server sent nothing for 1 seconds.");
        // Closed once, by the watchdog; the rest by the object.
        size_t connection_closes = 0;
        for (const tests::PlatformCall& call : fake.calls_to("InternetCloseHandle"))
            connection_closes += call.arguments[0] == tests::FakePlatform::handle_name(connection);
        EXPECT_EQ(connection_closes, 1u);
        EXPECT_EQ(fake.handles_open(), 0u);
        LONG code = -1;
        ASSERT_EQ(ftp->get_LastReplyCode(&code), S_OK);
        EXPECT_EQ(code, 0);
        VARIANT value;
        VariantInit(&value);
        EXPECT_EQ(error_of(ftp->get_Directory(&value)).number, ftp::errors::not_connected.number);
        VariantClear(&value);

        fake.on_FtpSetCurrentDirectoryA = nullptr;
        fake.on_InternetReadFile = nullptr;
        fake.on_InternetCloseHandle = nullptr;
        ASSERT_EQ(ftp->OpenConnection(), S_OK);
        Variant directory = text_variant(L"sub");
        ASSERT_EQ(ftp->put_Directory(*directory.get()), S_OK);
    }
    CloseHandle(closed);
}

// Calls that return in time leave no trace of the watchdog: it closes
// nothing, during the call or after it.
TEST_F(ResumeAndSizes, WatchdogNeverFiresAfterTheCallReturned)
{
    ASSERT_EQ(ftp->put_Timeout(1), S_OK);
    const size_t closes_before = fake.count("InternetCloseHandle");
    Variant directory = text_variant(L"sub");
    for (int index = 0; index < 50; ++index)
        ASSERT_EQ(ftp->put_Directory(*directory.get()), S_OK);
    Sleep(1800);  // past the 1 s timeout and its grace
    EXPECT_EQ(fake.count("InternetCloseHandle"), closes_before);
    EXPECT_EQ(fake.handles_open(), 2u);
}

// The bound is for each wait, not for their sum: a slow but steady server
// is never cut off, and a stall after many quick waits still is.
TEST_F(ResumeAndSizes, EachWaitHasTheWholeTimeoutAndAStallAfterQuickWaitsIsStillEnded)
{
    ASSERT_EQ(ftp->put_Timeout(1), S_OK);
    const size_t closes_before = fake.count("InternetCloseHandle");
    fake.on_FtpSetCurrentDirectoryA = [](HINTERNET, LPCSTR) {
        Sleep(600);
        return TRUE;
    };
    Variant directory = text_variant(L"sub");
    for (int index = 0; index < 4; ++index)
        ASSERT_EQ(ftp->put_Directory(*directory.get()), S_OK) << "wait " << index;
    EXPECT_EQ(fake.count("InternetCloseHandle"), closes_before);

    HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(closed, nullptr);
    int calls = 0;
    fake.on_FtpSetCurrentDirectoryA = [&](HINTERNET, LPCSTR) {
        if (++calls < 20)
            return TRUE;
        // Bounded: a watchdog that never fires fails the test, not the program.
        return WaitForSingleObject(closed, 20000) == WAIT_OBJECT_0 ? fake.fail(ERROR_INTERNET_OPERATION_CANCELLED)
                                                                    : TRUE;
    };
    fake.on_InternetCloseHandle = [&](HINTERNET) {
        SetEvent(closed);
        return TRUE;
    };
    HRESULT result = S_OK;
    for (int index = 0; index < 20 && result == S_OK; ++index)
        result = ftp->put_Directory(*directory.get());
    EXPECT_EQ(result, ftp::errors::set_directory.number);
    EXPECT_EQ(WaitForSingleObject(closed, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    fake.on_FtpSetCurrentDirectoryA = nullptr;
    fake.on_InternetCloseHandle = nullptr;
    CloseHandle(closed);
}

}  // namespace
}  // namespace corvane
