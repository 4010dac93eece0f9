// Listings of a real FTP server's directories, read by name as scripts do.

#include <winsock2.h>

#include "frame/error_code.h"
#include "ftp/ftp_errors.h"
#include "tests/integration/automation.h"
#include "tests/integration/loopback_servers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <wininet.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>

namespace corvane::integration {
namespace {

using ::testing::ElementsAreArray;
using ::testing::UnorderedElementsAre;

class ListingAgainstServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = std::make_unique<LoopbackServer>(LoopbackServer::start_ftp());
        ftp = Automation::create(L"corvane.FTP");
        ftp.put(L"URL", L"127.0.0.1");
        ftp.put(L"Port", server->port());
        ftp.put(L"Username", L"tester");
        ftp.put(L"Password", L"secret");
        ftp.call(L"OpenConnection");
    }

    std::filesystem::path root() const { return std::filesystem::path(server->root_windows()); }

    void write_file(const std::filesystem::path& path, size_t size)
    {
        std::ofstream(path, std::ios::binary) << std::string(size, 'x');
    }

    Automation files() { return Automation(ftp.call(L"Files").object()); }

    static std::wstring name_of(const Value& entry) { return Automation(entry.object()).get(L"Filename").text(); }

    // Stored through the server: Wine's view of the disk ignores case.
    void upload(const wchar_t* name, const std::string& content)
    {
        HINTERNET session = InternetOpenW(L"test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        HINTERNET connection = InternetConnectW(session, L"127.0.0.1", static_cast<INTERNET_PORT>(server->port()),
                                                L"tester", L"secret", INTERNET_SERVICE_FTP, 0, 0);
        HINTERNET file = FtpOpenFileW(connection, name, GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0);
        ASSERT_TRUE(file);
        DWORD written = 0;
        InternetWriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written);
        InternetCloseHandle(file);
        InternetCloseHandle(connection);
        InternetCloseHandle(session);
    }

    // The names in the order the server sends them to the engine of the
    // run: WinInet's own listing (LIST), or the raw MLSD lines the own
    // engine reads (servers may sort one and not the other).
    std::vector<std::wstring> server_order()
    {
        std::vector<std::wstring> names;
        if (ftp_engine_of_run() == 2) {
            const std::wstring lines = ftp.call(L"ExecuteCommand", {L"MLSD", true}).text();
            for (size_t start = 0; start < lines.size();) {
                const size_t end = std::min(lines.find(L"\r\n", start), lines.size());
                const size_t name = lines.find(L"; ", start);
                if (name < end && lines.find(L"type=cdir", start) > end && lines.find(L"type=pdir", start) > end)
                    names.push_back(lines.substr(name + 2, end - name - 2));
                start = end + 2;
            }
            return names;
        }
        HINTERNET session = InternetOpenW(L"test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        HINTERNET connection = InternetConnectW(session, L"127.0.0.1", static_cast<INTERNET_PORT>(server->port()),
                                                L"tester", L"secret", INTERNET_SERVICE_FTP, 0, 0);
        WIN32_FIND_DATAW data{};
        HINTERNET search = FtpFindFirstFileW(connection, nullptr, &data, INTERNET_FLAG_RELOAD, 0);
        for (BOOL more = search != nullptr; more; more = InternetFindNextFileW(search, &data))
            names.push_back(data.cFileName);
        if (search)
            InternetCloseHandle(search);
        InternetCloseHandle(connection);
        InternetCloseHandle(session);
        return names;
    }

    std::unique_ptr<LoopbackServer> server;
    Automation ftp;
};

TEST_F(ListingAgainstServer, EmptyDirectory)
{
    Automation collection = files();
    EXPECT_EQ(collection.call(L"Count").integer(), 0);
    EXPECT_TRUE(collection.for_each().empty());
    EXPECT_EQ(ftp.call(L"GetDirectoryListing", {63}).text(), L"");
}

TEST_F(ListingAgainstServer, EntriesInServerOrderWithTheirTypes)
{
    std::filesystem::create_directory(root() / "docs");
    std::filesystem::create_directory(root() / "pub");
    write_file(root() / "a.txt", 10);
    write_file(root() / "z.bin", 70000);
    write_file(root() / "m.dat", 0);

    Automation collection = files();
    ASSERT_EQ(collection.call(L"Count").integer(), 5);
    std::vector<std::wstring> names;
    for (const Value& entry : collection.for_each()) {
        Automation file(entry.object());
        names.push_back(file.get(L"Filename").text());
        EXPECT_EQ(file.get(L"ID").text(), names.back());
        const bool is_directory = names.back() == L"docs" || names.back() == L"pub";
        EXPECT_EQ(file.get(L"FileType").integer(), is_directory ? 1 : 2) << narrow(names.back());
    }
    EXPECT_THAT(names, ElementsAreArray(server_order()));
    EXPECT_EQ(Automation(collection.item(L"Z.BIN").object()).get(L"FileSize").integer(), 70000);
    EXPECT_EQ(name_of(collection.item(1)), names[0]);
    EXPECT_EQ(name_of(collection.item(5)), names[4]);
}

TEST_F(ListingAgainstServer, NamesEqualButForCase)
{
    upload(L"Makefile", "1");
    upload(L"makefile", "22");
    Automation collection = files();
    EXPECT_EQ(collection.call(L"Count").integer(), 2);
    std::vector<std::wstring> names;
    for (const Value& entry : collection.for_each())
        names.push_back(name_of(entry));
    EXPECT_THAT(names, UnorderedElementsAre(L"Makefile", L"makefile"));
    // The first of the two holds the key.
    EXPECT_EQ(name_of(collection.item(L"MAKEFILE")), names[0]);
}

TEST_F(ListingAgainstServer, TextListingForEveryFlagCombinationThatMatters)
{
    std::filesystem::create_directory(root() / "sub");
    write_file(root() / "readme.txt", 1234);
    Automation collection = files();

    // The expected text, built from the entries in collection order.
    auto expected = [&](int flags) {
        std::wstring text;
        for (const Value& value : collection.for_each()) {
            Automation entry(value.object());
            const bool directory = entry.get(L"FileType").integer() == 1;
            if (!((directory && (flags & 2)) || (!directory && (flags & 1))))
                continue;
            if (flags & 16)
                text += entry.get(L"LastWriteTime").text();
            if (flags & 8)
                text += entry.get(L"LastAccessTime").text();
            if (flags & 32)
                text += entry.get(L"CreationTime").text();
            if (flags & 4) {
                std::wstring size = entry.get(L"FileSize").text();
                text += size + std::wstring(15 - size.size(), L' ');
            }
            text += entry.get(L"Filename").text() + L"\r\n";
        }
        return text;
    };
    for (int flags : {0, 3, 23, 56, 63})
        EXPECT_EQ(ftp.call(L"GetDirectoryListing", {flags}).text(), expected(flags)) << flags;

    const std::wregex time_text(L"\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d  ");
    const std::wstring written = Automation(collection.item(L"readme.txt").object()).get(L"LastWriteTime").text();
    EXPECT_TRUE(std::regex_match(written, time_text)) << narrow(written);
    EXPECT_EQ(ftp.call(L"GetDirectoryListing", {5}).text(), L"1234           readme.txt\r\n");
}

TEST_F(ListingAgainstServer, LookupErrorsAsAScriptSeesThem)
{
    write_file(root() / "README", 1);
    Automation collection = files();
    EXPECT_EQ(name_of(collection.item(L"readme")), L"README");
    ScriptError error = error_of([&] { collection.item(2); });
    EXPECT_EQ(error.number, runtime_error_number(RuntimeError::subscript_out_of_range));
    EXPECT_EQ(error.description, L"Subscript out of range");
    error = error_of([&] { collection.item(L"1"); });
    EXPECT_EQ(error.number, runtime_error_number(RuntimeError::invalid_argument));
}

TEST_F(ListingAgainstServer, ListsTheCurrentDirectory)
{
    std::filesystem::create_directories(root() / "pub" / "inner");
    write_file(root() / "pub" / "one.txt", 3);
    ftp.put(L"Directory", L"/pub");
    EXPECT_EQ(ftp.call(L"GetDirectoryListing", {1}).text(), L"one.txt\r\n");
    EXPECT_EQ(ftp.call(L"GetDirectoryListing", {2}).text(), L"inner\r\n");
    EXPECT_EQ(ftp.get(L"Directory").text(), L"/pub/");
}

TEST_F(ListingAgainstServer, WithoutAConnection)
{
    Automation idle = Automation::create(L"corvane.FTP");
    const ScriptError error = error_of([&] { idle.call(L"Files"); });
    EXPECT_EQ(error.number, ftp::errors::listing_first.number);
    EXPECT_EQ(narrow(error.description).rfind("Error retrieving directory listing.(1)GetDirectoryListing error code: ", 0),
              0u);
}

}  // namespace
}  // namespace corvane::integration
