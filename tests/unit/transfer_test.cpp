// Transfers through the platform seam: the exact flags and names handed to
// the platform, the local file after a failure, the directory a failure
// leaves, and a listing that names the directory and its parent.

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
#include <fstream>
#include <memory>
#include <optional>

namespace corvane {
namespace {

using ::testing::ElementsAre;
using tests::error_of;
using tests::read_bytes;
using tests::text_variant;
using tests::write_bytes;
namespace fs = std::filesystem;

class Transfer : public ::testing::Test {
protected:
    Transfer()
    {
        fake.on_FormatMessageA = [](DWORD, LPCVOID, DWORD, DWORD, LPSTR, DWORD, const DWORD_PTR*) -> DWORD { return 0; };
        ftp = create_instance<FTP>().query<_FTP2>();
        Variant url = text_variant(L"host");
        Variant user = text_variant(L"tester");
        ftp->put_URL(*url.get());
        ftp->put_Username(*user.get());
        ftp->OpenConnection();
    }


    ~Transfer() override { tests::remove_tree(root.wstring()); }

    fs::path scratch(const char* name) const
    {
        const fs::path folder = root / name;
        fs::create_directories(folder);
        return folder;
    }

    tests::FakePlatform fake;
    ComPtr<_FTP2> ftp;
    const fs::path root = fs::temp_directory_path() / ("corvane-unit-transfer-" + std::to_string(GetCurrentProcessId()));
};

// The remote file as the fake serves it: bytes in reads of up to
// `piece`, then an empty read, or a failure once `fail_after` bytes went.
void serve_file(tests::FakePlatform& fake, std::string bytes, std::optional<size_t> fail_after = {})
{
    auto offset = std::make_shared<size_t>(0);
    fake.on_InternetReadFile = [&fake, bytes, fail_after, offset](HINTERNET, LPVOID buffer, DWORD wanted,
                                                                   LPDWORD read) {
        if (fail_after && *offset >= *fail_after)
            return fake.fail(ERROR_INTERNET_CONNECTION_RESET);
        const size_t count = std::min<size_t>({wanted, bytes.size() - *offset, size_t{4}});
        std::memcpy(buffer, bytes.data() + *offset, count);
        *offset += count;
        *read = static_cast<DWORD>(count);
        return TRUE;
    };
}

TEST_F(Transfer, GetFileFlagsAndOverwrite)
{
    const fs::path folder = scratch("get");
    Variant remote = text_variant(L"/pub/r.bin");
    Variant local = text_variant((folder / "l.bin").wstring());
    serve_file(fake, "first");
    ASSERT_EQ(ftp->GetFile(*remote.get(), *local.get(), VARIANT_TRUE), S_OK);
    EXPECT_THAT(fake.arguments_of("FtpOpenFileA"), ElementsAre("h2", "\"/pub/r.bin\"", "2147483648", "67108865", "0"));
    EXPECT_EQ(read_bytes(folder / "l.bin"), "first");
    ftp->put_TransferType(TransferBinary);
    serve_file(fake, "second");
    // Anything but exactly True keeps the file, before the server is asked.
    EXPECT_EQ(error_of(ftp->GetFile(*remote.get(), *local.get(), 1)).number, ftp::errors::get_file.number);
    EXPECT_EQ(fake.count("FtpOpenFileA"), 1u);
    ASSERT_EQ(ftp->GetFile(*remote.get(), *local.get(), VARIANT_TRUE), S_OK);
    EXPECT_EQ(fake.arguments_of("FtpOpenFileA", 1)[3], "67108866");
    EXPECT_EQ(read_bytes(folder / "l.bin"), "second");
    Variant bytes;
    ASSERT_EQ(ftp->get_BytesTransferred(bytes.put()), S_OK);
    EXPECT_EQ(text_of(*bytes.get()), L"6");
    EXPECT_EQ(fake.count("FtpSetCurrentDirectoryA"), 0u);
}

// A download that fails leaves no partial file; one that could not start
// leaves the file it was to replace as it was.
TEST_F(Transfer, FailedGetFileLeavesNoPartialFile)
{
    struct Case {
        const char* label;
        bool existing;
        bool open_fails;
        std::optional<size_t> read_fails_after;
        const char* final_reply;
        const char* left;  // nullptr: no file
    };
    const fs::path target = scratch("failed-get") / "f.bin";
    Variant remote = text_variant(L"f.bin");
    Variant local = text_variant(target.wstring());
    for (const Case& example : {
             Case{"missing remote file", true, true, {}, "550 No such file.", "old"},
             Case{"missing remote file, new local", false, true, {}, "550 No such file.", nullptr},
             Case{"read fails", true, false, 8, "", nullptr},
             Case{"server's final reply is negative", false, false, {}, "426 Transfer aborted.", nullptr},
         }) {
        fs::remove(target);
        if (example.existing)
            write_bytes(target, "old");
        serve_file(fake, "sixteen bytes...", example.read_fails_after);
        fake.on_FtpOpenFileA = [&](auto...) -> HINTERNET {
            fake.last_response = example.final_reply;
            return example.open_fails ? (fake.last_error = 12003, nullptr) : fake.new_handle();
        };
        EXPECT_EQ(error_of(ftp->GetFile(*remote.get(), *local.get(), VARIANT_TRUE)).number,
                  ftp::errors::get_file.number)
            << example.label;
        if (example.left)
            EXPECT_EQ(read_bytes(target), example.left) << example.label;
        else
            EXPECT_FALSE(fs::exists(target)) << example.label;
    }
}

TEST_F(Transfer, PutFileChangesToTheDirectoryPartAndBack)
{
    fake.on_FtpGetCurrentDirectoryA = [](HINTERNET, LPSTR buffer, LPDWORD) {
        std::strcpy(buffer, "/home");
        return TRUE;
    };
    std::string sent;
    fake.on_InternetWriteFile = [&](HINTERNET, LPCVOID bytes, DWORD count, LPDWORD written) {
        sent.append(static_cast<const char*>(bytes), count);
        *written = count;
        return TRUE;
    };
    ftp->put_TransferType(TransferBinary);
    const fs::path source = scratch("put") / "report.txt";
    write_bytes(source, "report");
    Variant local = text_variant(source.wstring());
    Variant remote = text_variant(L"/pub/in/report.txt");
    ASSERT_EQ(ftp->PutFile(*local.get(), *remote.get()), S_OK);
    EXPECT_THAT(fake.arguments_of("FtpSetCurrentDirectoryA", 0), ElementsAre("h2", "\"/pub/in/\""));
    EXPECT_THAT(fake.arguments_of("FtpOpenFileA"), ElementsAre("h2", "\"report.txt\"", "1073741824", "2", "0"));
    EXPECT_EQ(sent, "report");
    EXPECT_THAT(fake.arguments_of("FtpSetCurrentDirectoryA", 1), ElementsAre("h2", "\"/home/\""));

    // No slash: no change of directory, but the directory is set back all
    // the same.
    Variant plain = text_variant(L"a\\b.txt");
    ASSERT_EQ(ftp->PutFile(*local.get(), *plain.get()), S_OK);
    EXPECT_EQ(fake.arguments_of("FtpOpenFileA", 1)[1], "\"a\\b.txt\"");
    EXPECT_EQ(fake.count("FtpSetCurrentDirectoryA"), 3u);
}

// A failed transfer changes back as a successful one does (the trees too:
// tests/integration), and LastReplyCode still gives the failure's code.
TEST_F(Transfer, FailedPutFileReturnsToTheDirectory)
{
    fake.on_FtpGetCurrentDirectoryA = [](HINTERNET, LPSTR buffer, LPDWORD) {
        std::strcpy(buffer, "/home");
        return TRUE;
    };
    fake.on_FtpSetCurrentDirectoryA = [&](auto...) {
        fake.last_response = "250 Directory changed.";
        return TRUE;
    };
    fake.on_FtpOpenFileA = [&](auto...) -> HINTERNET {
        fake.last_response = "553 Could not create file.";
        fake.last_error = 12003;
        return nullptr;
    };
    const fs::path source = scratch("return") / "x.txt";
    write_bytes(source, "x");
    Variant local = text_variant(source.wstring());
    Variant remote = text_variant(L"/pub/");
    EXPECT_EQ(error_of(ftp->PutFile(*local.get(), *remote.get())).description,
              L"Error putting file to remote server.553 Could not create file.");
    EXPECT_THAT(fake.arguments_of("FtpSetCurrentDirectoryA", 1), ElementsAre("h2", "\"/home/\""));
    LONG code = 0;
    ftp->get_LastReplyCode(&code);
    EXPECT_EQ(code, 553);
}

TEST_F(Transfer, TreeSkipsTheDirectoryItselfAndItsParent)
{
    const auto local = std::filesystem::temp_directory_path() / ("corvane-unit-tree-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::remove_all(local);

    // The server lists ".", "..", one subdirectory and one file.
    std::vector<std::pair<std::string, DWORD>> listing = {
        {".", FILE_ATTRIBUTE_DIRECTORY}, {"..", FILE_ATTRIBUTE_DIRECTORY}, {"file.txt", FILE_ATTRIBUTE_NORMAL}};
    size_t next = 0;
    auto fill = [&](LPVOID data) {
        auto* record = static_cast<WIN32_FIND_DATAA*>(data);
        std::strcpy(record->cFileName, listing[next].first.c_str());
        record->dwFileAttributes = listing[next].second;
        ++next;
    };
    fake.on_FtpFindFirstFileA = [&](HINTERNET, LPCSTR, LPWIN32_FIND_DATAA data, DWORD, DWORD_PTR) -> HINTERNET {
        next = 0;
        fill(data);
        return fake.new_handle();
    };
    fake.on_InternetFindNextFileA = [&](HINTERNET, LPVOID data) {
        if (next >= listing.size())
            return fake.fail(ERROR_NO_MORE_FILES);
        fill(data);
        return TRUE;
    };

    Variant remote = text_variant(L"/top");
    Variant local_path = text_variant(local.wstring());
    ASSERT_EQ(ftp->GetDirectory(*remote.get(), *local_path.get(), VARIANT_TRUE, VARIANT_TRUE), S_OK);
    EXPECT_EQ(fake.count("FtpFindFirstFileA"), 1u);
    ASSERT_EQ(fake.count("FtpOpenFileA"), 1u);
    EXPECT_EQ(fake.arguments_of("FtpOpenFileA")[1], "\"/top/file.txt\"");
    EXPECT_TRUE(std::filesystem::is_directory(local));
    std::filesystem::remove_all(local);
}

TEST_F(Transfer, TreeUploadSendsOnlyTheFilesOnceInTheDirectory)
{
    // Round trips per file, not per tree, are what a slow server makes
    // everyone wait for.
    const auto local = std::filesystem::temp_directory_path() /
                       ("corvane-unit-upload-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::remove_all(local);
    std::filesystem::create_directories(local);
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"})
        std::ofstream(local / name) << name;

    Variant local_path = text_variant(local.wstring());
    Variant remote = text_variant(L"/up");
    const HRESULT outcome = ftp->PutDirectory(*local_path.get(), *remote.get(), VARIANT_TRUE);
    std::filesystem::remove_all(local);
    ASSERT_EQ(outcome, S_OK);
    EXPECT_EQ(fake.count("FtpOpenFileA"), 5u);
    EXPECT_EQ(fake.count("FtpGetCurrentDirectoryA"), 1u);
    ASSERT_EQ(fake.count("FtpSetCurrentDirectoryA"), 2u);
    EXPECT_EQ(fake.arguments_of("FtpSetCurrentDirectoryA", 0)[1], "\"/up\"");
    EXPECT_EQ(fake.arguments_of("FtpOpenFileA", 0)[1], "\"/up/a.txt\"");
}

}  // namespace
}  // namespace corvane
