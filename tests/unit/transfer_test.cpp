// Transfers through the platform seam: the exact flags and names handed to
// the platform, and a listing that names the directory and its parent.

#include "frame/class_table.h"
#include "component/ftp.h"
#include "ftp/ftp_errors.h"
#include "tests/unit/com_test_support.h"
#include "tests/unit/fake_platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace corvane {
namespace {

using ::testing::ElementsAre;
using tests::error_of;
using tests::text_variant;

class Transfer : public ::testing::Test {
protected:
    Transfer()
    {
        fake.on_FormatMessageA = [](DWORD, LPCVOID, DWORD, DWORD, LPSTR, DWORD, const DWORD_PTR*) -> DWORD { return 0; };
        ftp = create_instance<FTP>().query<_FTP>();
        Variant url = text_variant(L"host");
        Variant user = text_variant(L"tester");
        ftp->put_URL(*url.get());
        ftp->put_Username(*user.get());
        ftp->OpenConnection();
    }


    tests::FakePlatform fake;
    ComPtr<_FTP> ftp;
};

TEST_F(Transfer, GetFileFlagsAndOverwrite)
{
    Variant remote = text_variant(L"/pub/r.bin");
    Variant local = text_variant(L"C:\\l.bin");
    ASSERT_EQ(ftp->GetFile(*remote.get(), *local.get(), VARIANT_TRUE), S_OK);
    EXPECT_THAT(fake.arguments_of("FtpGetFileA"),
                ElementsAre("h2", "\"/pub/r.bin\"", "\"C:\\l.bin\"", "0", "128", "67108865", "0"));
    ftp->put_TransferType(TransferBinary);
    ASSERT_EQ(ftp->GetFile(*remote.get(), *local.get(), VARIANT_FALSE), S_OK);
    EXPECT_EQ(fake.arguments_of("FtpGetFileA", 1)[3], "65535");
    EXPECT_EQ(fake.arguments_of("FtpGetFileA", 1)[5], "67108866");
    EXPECT_EQ(fake.count("FtpSetCurrentDirectoryA"), 0u);
}

TEST_F(Transfer, PutFileChangesToTheDirectoryPartAndBack)
{
    fake.on_FtpGetCurrentDirectoryA = [](HINTERNET, LPSTR buffer, LPDWORD) {
        std::strcpy(buffer, "/home");
        return TRUE;
    };
    ftp->put_TransferType(TransferBinary);
    Variant local = text_variant(L"C:\\report.txt");
    Variant remote = text_variant(L"/pub/in/report.txt");
    ASSERT_EQ(ftp->PutFile(*local.get(), *remote.get()), S_OK);
    EXPECT_THAT(fake.arguments_of("FtpSetCurrentDirectoryA", 0), ElementsAre("h2", "\"/pub/in/\""));
    EXPECT_THAT(fake.arguments_of("FtpPutFileA"), ElementsAre("h2", "\"C:\\report.txt\"", "\"report.txt\"", "2", "0"));
    EXPECT_THAT(fake.arguments_of("FtpSetCurrentDirectoryA", 1), ElementsAre("h2", "\"/home/\""));

    // No slash: no change of directory, but the directory is set back all
    // the same.
    Variant plain = text_variant(L"a\\b.txt");
    ASSERT_EQ(ftp->PutFile(*local.get(), *plain.get()), S_OK);
    EXPECT_EQ(fake.arguments_of("FtpPutFileA", 1)[2], "\"a\\b.txt\"");
    EXPECT_EQ(fake.count("FtpSetCurrentDirectoryA"), 3u);
}

TEST_F(Transfer, FailedPutStaysInTheDirectoryItChangedTo)
{
    fake.on_FtpPutFileA = [&](auto...) { return fake.fail(12003); };
    fake.last_response = "553 Could not create file.";
    Variant local = text_variant(L"C:\\x");
    Variant remote = text_variant(L"/pub/");
    const auto error = error_of(ftp->PutFile(*local.get(), *remote.get()));
    EXPECT_EQ(error.number, ftp::errors::put_file.number);
    EXPECT_EQ(error.description, L"Error putting file to remote server.553 Could not create file.");
    EXPECT_EQ(fake.arguments_of("FtpPutFileA")[2], "\"\"");
    EXPECT_EQ(fake.count("FtpSetCurrentDirectoryA"), 1u);
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
    ASSERT_EQ(fake.count("FtpGetFileA"), 1u);
    EXPECT_EQ(fake.arguments_of("FtpGetFileA")[1], "\"/top/file.txt\"");
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
    EXPECT_EQ(fake.count("FtpPutFileA"), 5u);
    EXPECT_EQ(fake.count("FtpGetCurrentDirectoryA"), 1u);
    ASSERT_EQ(fake.count("FtpSetCurrentDirectoryA"), 2u);
    EXPECT_EQ(fake.arguments_of("FtpSetCurrentDirectoryA", 0)[1], "\"/up\"");
    EXPECT_EQ(fake.arguments_of("FtpPutFileA", 0)[2], "\"/up/a.txt\"");
}

}  // namespace
}  // namespace corvane
