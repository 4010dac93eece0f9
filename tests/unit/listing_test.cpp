// Listings through the platform seam: what the platform is asked, how each
// record becomes an entry, the collection's lookups and errors, the text
// listing, and the search handle on every path.

#include "frame/class_table.h"
#include "component/ftp.h"
#include "component/ftp_file.h"
#include "component/ftp_files.h"
#include "frame/error_code.h"
#include "ftp/ftp_errors.h"
#include "ftp/time_text.h"
#include "tests/unit/com_test_support.h"
#include "tests/unit/fake_platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace corvane {
namespace {

using ::testing::ElementsAre;
using tests::error_of;
using tests::take_text;
using tests::text_variant;

WIN32_FIND_DATAA record(const char* name, DWORD attributes = FILE_ATTRIBUTE_NORMAL, DWORD size_high = 0,
                        DWORD size_low = 0, ULONGLONG write_time = 0)
{
    WIN32_FIND_DATAA data{};
    std::strncpy(data.cFileName, name, MAX_PATH - 1);
    data.dwFileAttributes = attributes;
    data.nFileSizeHigh = size_high;
    data.nFileSizeLow = size_low;
    for (FILETIME* time : {&data.ftCreationTime, &data.ftLastAccessTime, &data.ftLastWriteTime}) {
        time->dwLowDateTime = static_cast<DWORD>(write_time);
        time->dwHighDateTime = static_cast<DWORD>(write_time >> 32);
    }
    return data;
}

// 1 February 2004, 09:05:03, as a file time.
constexpr ULONGLONG february_2004 = 127200999030000000ULL;

class Listing : public ::testing::Test {
protected:
    Listing()
    {
        // Local time is the file time itself, whatever the machine's zone.
        fake.on_FileTimeToLocalFileTime = [](const FILETIME* time, LPFILETIME local) {
            *local = *time;
            return TRUE;
        };
        fake.on_FormatMessageA = [](DWORD, LPCVOID, DWORD, DWORD, LPSTR, DWORD, const DWORD_PTR*) -> DWORD { return 0; };
        ftp = create_instance<FTP>().query<_FTP>();
        Variant url = text_variant(L"host");
        Variant user = text_variant(L"tester");
        ftp->put_URL(*url.get());
        ftp->put_Username(*user.get());
        ftp->OpenConnection();
    }

    // The server lists these records, then ends with `end_code`.
    void serve(std::vector<WIN32_FIND_DATAA> records, DWORD end_code = ERROR_NO_MORE_FILES)
    {
        served = std::move(records);
        next = 0;
        fake.on_FtpFindFirstFileA = [this, end_code](HINTERNET, LPCSTR, LPWIN32_FIND_DATAA data, DWORD,
                                                     DWORD_PTR) -> HINTERNET {
            if (served.empty()) {
                fake.last_error = end_code;
                return nullptr;
            }
            next = 0;
            *data = served[next++];
            return fake.new_handle();
        };
        fake.on_InternetFindNextFileA = [this, end_code](HINTERNET, LPVOID data) {
            if (next >= served.size())
                return fake.fail(end_code);
            *static_cast<WIN32_FIND_DATAA*>(data) = served[next++];
            return TRUE;
        };
    }

    ComPtr<_FTPFiles> files()
    {
        ComPtr<_FTPFiles> result;
        EXPECT_EQ(ftp->Files(result.put()), S_OK);
        return result;
    }

    std::wstring listing(LONG flags)
    {
        BSTR text = nullptr;
        EXPECT_EQ(ftp->GetDirectoryListing(static_cast<Directory_Listing_Type>(flags), &text), S_OK);
        return take_text(text);
    }

    // Null when there is no such entry; the helpers below take that.
    static ComPtr<_FTPFile> item(const ComPtr<_FTPFiles>& collection, const VARIANT& index)
    {
        ComPtr<_FTPFile> entry;
        if (collection) {
            EXPECT_EQ(collection->Item(index, entry.put()), S_OK);
        }
        return entry;
    }

    static std::wstring name_of(const ComPtr<_FTPFile>& entry)
    {
        BSTR name = nullptr;
        if (!entry || FAILED(entry->get_Filename(&name)))
            return L"<no entry>";
        return take_text(name);
    }

    static LONG size_of(const ComPtr<_FTPFile>& entry)
    {
        Variant size;
        if (!entry || FAILED(entry->get_FileSize(size.put())) || V_VT(size.get()) != VT_I4)
            return -1;
        return V_I4(size.get());
    }

    static Variant number(double value)
    {
        Variant result;
        V_VT(result.get()) = VT_R8;
        V_R8(result.get()) = value;
        return result;
    }

    tests::FakePlatform fake;
    ComPtr<_FTP> ftp;
    std::vector<WIN32_FIND_DATAA> served;
    size_t next = 0;
};

TEST_F(Listing, AsksForTheWholeDirectoryWithoutCache)
{
    serve({record("a")});
    EXPECT_TRUE(files());
    EXPECT_THAT(fake.arguments_of("FtpFindFirstFileA"), ElementsAre("h2", "NULL", "2214592512", "0"));
    EXPECT_EQ(fake.handles_open(), 2u);  // the search handle is closed again
}

TEST_F(Listing, EmptyDirectoryAsWindowsAndWineReportIt)
{
    for (DWORD code : {DWORD{ERROR_NO_MORE_FILES}, DWORD{0}}) {
        serve({}, code);
        LONG count = -1;
        auto collection = files();
    ASSERT_TRUE(collection);
        ASSERT_TRUE(collection);
        ASSERT_EQ(collection->Count(&count), S_OK);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(listing(63), L"");
    }
}

TEST_F(Listing, EntriesKeepServerOrderTypeAndTrueSize)
{
    serve({record("docs", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY), record("small.txt", 0, 0, 1234),
           record("three.iso", FILE_ATTRIBUTE_ARCHIVE, 0, 0xC0000000), record("four.img", 0, 1, 0),
           record("five.img", 0, 1, 0x40000000), record(".", FILE_ATTRIBUTE_DIRECTORY)});
    auto collection = files();
    ASSERT_TRUE(collection);
    LONG count = 0;
    collection->Count(&count);
    ASSERT_EQ(count, 6);

    struct Expected {
        const wchar_t* name;
        enum_FileType type;
        VARTYPE size_type;
        double size;
    };
    const Expected expected[] = {{L"docs", FTPDirectory, VT_I4, 0},
                                 {L"small.txt", FTPFileEntry, VT_I4, 1234},
                                 {L"three.iso", FTPFileEntry, VT_R8, 3221225472.0},
                                 {L"four.img", FTPFileEntry, VT_R8, 4294967296.0},
                                 {L"five.img", FTPFileEntry, VT_R8, 5368709120.0},
                                 {L".", FTPDirectory, VT_I4, 0}};
    for (int position = 1; position <= 6; ++position) {
        const Expected& want = expected[position - 1];
        auto entry = item(collection, *number(position).get());
        ASSERT_TRUE(entry);
        EXPECT_EQ(name_of(entry), want.name);
        BSTR id = nullptr;
        entry->get_ID(&id);
        EXPECT_EQ(take_text(id), want.name);
        enum_FileType type{};
        entry->get_FileType(&type);
        EXPECT_EQ(type, want.type);
        VARIANT size;
        entry->get_FileSize(&size);
        EXPECT_EQ(V_VT(&size), want.size_type) << position;
        EXPECT_EQ(want.size_type == VT_I4 ? V_I4(&size) : V_R8(&size), want.size);
    }
    EXPECT_EQ(listing(ShowFiles | ShowFileSize),
              L"1234           small.txt\r\n3221225472     three.iso\r\n4294967296     four.img\r\n"
              L"5368709120     five.img\r\n");
}

TEST_F(Listing, NamesWithSpacesAndAnsiCharacters)
{
    serve({record("my report.txt"), record("caf\xe9.txt")});
    auto collection = files();
    ASSERT_TRUE(collection);
    EXPECT_EQ(name_of(item(collection, *number(1).get())), L"my report.txt");
    EXPECT_EQ(name_of(item(collection, *number(2).get())), L"caf\u00e9.txt");
    EXPECT_EQ(name_of(item(collection, *text_variant(L"CAF\u00c9.TXT").get())), L"caf\u00e9.txt");
}

TEST_F(Listing, NamesEqualButForCaseAllStay)
{
    serve({record("Makefile", 0, 0, 1), record("makefile", 0, 0, 2), record("README")});
    auto collection = files();
    ASSERT_TRUE(collection);
    LONG count = 0;
    collection->Count(&count);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(size_of(item(collection, *text_variant(L"MAKEFILE").get())), 1);
    EXPECT_EQ(size_of(item(collection, *number(2).get())), 2);
    EXPECT_EQ(listing(ShowFiles), L"Makefile\r\nmakefile\r\nREADME\r\n");
}

TEST_F(Listing, LookupErrorsAreTheRuntimes)
{
    serve({record("README"), record("data")});
    auto collection = files();
    ASSERT_TRUE(collection);
    ComPtr<_FTPFile> entry;
    const HRESULT out_of_range = runtime_error_number(RuntimeError::subscript_out_of_range);
    const HRESULT bad_argument = runtime_error_number(RuntimeError::invalid_argument);
    const HRESULT type_mismatch = runtime_error_number(RuntimeError::type_mismatch);
    std::vector<std::pair<std::function<Variant()>, std::pair<HRESULT, const wchar_t*>>> cases;
    cases.push_back({[] { return number(0); }, {out_of_range, L"Subscript out of range"}});
    cases.push_back({[] { return number(3); }, {out_of_range, L"Subscript out of range"}});
    cases.push_back({[] { return text_variant(L"1"); }, {bad_argument, L"Invalid procedure call or argument"}});
    cases.push_back({[] { return text_variant(L"missing"); }, {bad_argument, L"Invalid procedure call or argument"}});
    cases.push_back({[] { return Variant(); }, {type_mismatch, L"Type mismatch"}});
    for (auto& [make_index, expected] : cases) {
        Variant index = make_index();
        const auto error = error_of(collection->Item(*index.get(), entry.put()));
        EXPECT_EQ(error.number, expected.first);
        EXPECT_EQ(error.description, expected.second);
    }
    // A fraction rounds as the runtime rounds to a whole number.
    EXPECT_EQ(name_of(item(collection, *number(1.4).get())), L"README");
    EXPECT_EQ(name_of(item(collection, *number(1.5).get())), L"data");
    EXPECT_EQ(name_of(item(collection, *number(2.5).get())), L"data");
}

TEST_F(Listing, EnumeratorsAreIndependentSnapshots)
{
    serve({record("one"), record("two"), record("three")});
    auto collection = files();
    ASSERT_TRUE(collection);
    ComPtr<IUnknown> first_unknown, second_unknown;
    ASSERT_EQ(collection->NewEnum(first_unknown.put()), S_OK);
    ASSERT_EQ(collection->NewEnum(second_unknown.put()), S_OK);
    auto first = first_unknown.query<IEnumVARIANT>();
    auto second = second_unknown.query<IEnumVARIANT>();
    ASSERT_TRUE(first && second);

    VARIANT items[3];
    ULONG fetched = 0;
    ASSERT_EQ(first->Next(2, items, &fetched), S_OK);
    EXPECT_EQ(fetched, 2u);
    auto name_of_item = [](VARIANT& value) {
        auto entry = ComPtr<IDispatch>::adopt(V_DISPATCH(&value)).query<_FTPFile>();
        return name_of(entry);
    };
    EXPECT_EQ(name_of_item(items[0]), L"one");
    EXPECT_EQ(name_of_item(items[1]), L"two");
    ASSERT_EQ(second->Next(1, items, &fetched), S_OK);
    EXPECT_EQ(name_of_item(items[0]), L"one");

    ComPtr<IEnumVARIANT> clone;
    ASSERT_EQ(first->Clone(clone.put()), S_OK);
    ASSERT_EQ(first->Next(3, items, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(name_of_item(items[0]), L"three");
    ASSERT_EQ(clone->Next(1, items, &fetched), S_OK);
    EXPECT_EQ(name_of_item(items[0]), L"three");
    EXPECT_EQ(clone->Next(1, items, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
}

TEST_F(Listing, FailureOnTheFirstCall)
{
    fake.on_FtpFindFirstFileA = [&](auto...) -> HINTERNET {
        fake.last_error = 12029;
        return nullptr;
    };
    ComPtr<_FTPFiles> result;
    const auto error = error_of(ftp->Files(result.put()));
    EXPECT_EQ(error.number, ftp::errors::listing_first.number);
    EXPECT_EQ(error.description,
              L"Error retrieving directory listing.(1)GetDirectoryListing error code: 12029 Message: ");
    EXPECT_FALSE(result);
}

TEST_F(Listing, FailureInTheMiddleClosesTheSearch)
{
    serve({record("one"), record("two")}, 12003);
    fake.last_response = "426 Connection closed; transfer aborted.";
    BSTR text = nullptr;
    const auto error = error_of(ftp->GetDirectoryListing(static_cast<Directory_Listing_Type>(3), &text));
    EXPECT_EQ(error.number, ftp::errors::listing_next.number);
    EXPECT_EQ(error.description,
              L"Error retrieving directory listing.(2)(12003)(0)426 Connection closed; transfer aborted.");
    EXPECT_EQ(fake.handles_open(), 2u);
}

TEST_F(Listing, ListingWithoutItsFinalReplyIsAnErrorForBothMembers)
{
    const std::wstring no_final_reply =
        L"Error retrieving directory listing. The transfer ended without the server's final reply.";
    struct Row {
        const char* name;
        size_t entries;
        DWORD end_code;
        const char* last_reply;  // what the platform recorded once the listing ended
        std::wstring description;  // empty: the listing stands
    };
    const std::vector<Row> rows = {
        {"complete", 2, ERROR_NO_MORE_FILES, "226 Transfer complete.", L""},
        {"complete, 250", 2, ERROR_NO_MORE_FILES, "250 Closing data connection.", L""},
        {"nothing recorded", 2, ERROR_NO_MORE_FILES, "", L""},
        {"cut after the preliminary reply", 2, ERROR_NO_MORE_FILES, "150 Here comes the directory listing.",
         no_final_reply},
        // Wine reads listing lines into the reply record as well.
        {"cut inside the data", 2, ERROR_NO_MORE_FILES, "-rw-r--r-- 1 owner group 10 Jan 01 00:00 file02",
         no_final_reply},
        {"aborted by the server", 2, ERROR_NO_MORE_FILES, "426 Connection closed; transfer aborted.",
         L"Error retrieving directory listing. 426 Connection closed; transfer aborted."},
        {"empty and complete", 0, 0, "226 Transfer complete.", L""},
        {"cut before the first entry", 0, ERROR_NO_MORE_FILES, "150 Here comes the directory listing.",
         no_final_reply},
        {"empty, refused by the server", 0, ERROR_NO_MORE_FILES, "550 No files found.", L""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<WIN32_FIND_DATAA> records;
        for (size_t index = 0; index < row.entries; ++index)
            records.push_back(record(("file" + std::to_string(index + 1)).c_str()));
        serve(records, row.end_code);
        // The listing leaves its replies while it runs.
        auto find_first = fake.on_FtpFindFirstFileA;
        fake.last_response = "257 \"/\" is the current directory.";
        fake.on_FtpFindFirstFileA = [&, find_first](HINTERNET connection, LPCSTR search, LPWIN32_FIND_DATAA data,
                                                   DWORD flags, DWORD_PTR context) {
            fake.last_response = row.last_reply;
            return find_first(connection, search, data, flags, context);
        };
        ComPtr<_FTPFiles> collection;
        const auto files_error = error_of(ftp->Files(collection.put()));
        BSTR text = nullptr;
        const auto listing_error = error_of(ftp->GetDirectoryListing(static_cast<Directory_Listing_Type>(3), &text));
        if (row.description.empty()) {
            ASSERT_EQ(files_error.number, S_OK);
            ASSERT_TRUE(collection);
            LONG count = -1;
            collection->Count(&count);
            EXPECT_EQ(count, static_cast<LONG>(row.entries));
            EXPECT_EQ(listing_error.number, S_OK);
            EXPECT_EQ(take_text(text), row.entries ? L"file1\r\nfile2\r\n" : L"");
        } else {
            for (const auto& error : {files_error, listing_error}) {
                EXPECT_EQ(error.number, ftp::errors::listing.number);
                EXPECT_EQ(error.source, ftp::errors::source);
                EXPECT_EQ(error.description, row.description);
            }
            EXPECT_FALSE(collection);
        }
        EXPECT_EQ(fake.handles_open(), 2u);  // the search handle is closed on every path
    }
}

TEST_F(Listing, FailingCloseOfTheSearch)
{
    serve({record("one")});
    fake.on_InternetCloseHandle = [&](HINTERNET handle) {
        return tests::FakePlatform::handle_name(handle) == "h3" ? fake.fail(12017) : TRUE;
    };
    ComPtr<_FTPFiles> result;
    const auto error = error_of(ftp->Files(result.put()));
    EXPECT_EQ(error.number, ftp::errors::listing_close.number);
    EXPECT_EQ(error.description,
              L"Error retrieving directory listing.(3)GetDirectoryListing error code: 12017 Message: ");
    EXPECT_EQ(fake.count("InternetCloseHandle"), 1u);
    fake.on_InternetCloseHandle = nullptr;
}

TEST_F(Listing, TextColumnsInTheirFixedOrder)
{
    WIN32_FIND_DATAA readme = record("readme.txt", 0, 0, 1234, february_2004);
    WIN32_FIND_DATAA docs = record("docs", FILE_ATTRIBUTE_DIRECTORY, 0, 0, february_2004);
    serve({docs, readme});
    const std::wstring time = L"02/01/2004 09:05:03  ";
    EXPECT_EQ(listing(0), L"");
    EXPECT_EQ(listing(ShowFileSize | ShowLastAccessTime | ShowLastWriteTime | ShowCreationTime), L"");
    EXPECT_EQ(listing(ShowFiles | ShowDirectories), L"docs\r\nreadme.txt\r\n");
    EXPECT_EQ(listing(ShowDirectories), L"docs\r\n");
    EXPECT_EQ(listing(23), time + L"0              docs\r\n" + time + L"1234           readme.txt\r\n");
    EXPECT_EQ(listing(63), time + time + time + L"0              docs\r\n" + time + time + time +
                               L"1234           readme.txt\r\n");
    EXPECT_EQ(listing(ShowFiles | 64 | 128), L"readme.txt\r\n");
}

TEST_F(Listing, TimesThatCannotBeConverted)
{
    const std::wstring unknown = L"unknown" + std::wstring(13, L' ');
    fake.on_FileTimeToLocalFileTime = [](const FILETIME*, LPFILETIME) { return FALSE; };
    serve({record("a", 0, 0, 1, february_2004)});
    EXPECT_EQ(listing(ShowFiles | ShowLastWriteTime), unknown + L"a\r\n");
    fake.on_FileTimeToLocalFileTime = [](const FILETIME* time, LPFILETIME local) {
        *local = *time;
        return TRUE;
    };
    fake.on_FileTimeToSystemTime = [](const FILETIME*, LPSYSTEMTIME) { return FALSE; };
    EXPECT_EQ(listing(ShowFiles | ShowCreationTime), unknown + L"a\r\n");
}

TEST(TimeText, FixedWidthsAndPadding)
{
    tests::FakePlatform fake;
    SYSTEMTIME fields{};
    fake.on_FileTimeToLocalFileTime = [](const FILETIME* time, LPFILETIME local) {
        *local = *time;
        return TRUE;
    };
    fake.on_FileTimeToSystemTime = [&](const FILETIME*, LPSYSTEMTIME out) {
        *out = fields;
        return TRUE;
    };
    // Every field padded to two digits, never shortened.
    fields = {7, 2, 0, 1, 9, 5, 3, 0};
    EXPECT_EQ(ftp::file_time_text({}), L"02/01/07   09:05:03  ");
    fields = {999, 12, 0, 31, 23, 59, 58, 0};
    EXPECT_EQ(ftp::file_time_text({}), L"12/31/999  23:59:58  ");
    // A five-digit year only widens the date.
    fields = {30000, 1, 0, 2, 3, 4, 5, 0};
    EXPECT_EQ(ftp::file_time_text({}), L"01/02/30000 03:04:05  ");
}

TEST(TimeText, LocalTimeComesFromThePlatform)
{
    tests::FakePlatform fake;
    // The machine's zone, scripted: one hour ahead of the file time.
    fake.on_FileTimeToLocalFileTime = [](const FILETIME* time, LPFILETIME local) {
        ULARGE_INTEGER value{{time->dwLowDateTime, time->dwHighDateTime}};
        value.QuadPart += 36000000000ULL;
        *local = {value.LowPart, value.HighPart};
        return TRUE;
    };
    const FILETIME time{static_cast<DWORD>(february_2004), static_cast<DWORD>(february_2004 >> 32)};
    EXPECT_EQ(ftp::file_time_text(time), L"02/01/2004 10:05:03  ");
}

TEST(FtpFileEntry, ListedEntryKeepsItsNameAsIdWhenRenamed)
{
    ftp::ListingEntry listed;
    listed.name = L"report.txt";
    ComPtr<FTPFile> file = FTPFile::from_listing_entry(listed);
    Bstr renamed(L"other.txt"), later(L"later"), again(L"again.txt");
    file->put_Filename(renamed.get());
    file->put_ID(later.get());
    file->put_Filename(again.get());
    BSTR id = nullptr, name = nullptr;
    file->get_ID(&id);
    file->get_Filename(&name);
    EXPECT_EQ(take_text(id), L"report.txt");
    EXPECT_EQ(take_text(name), L"again.txt");
}

TEST(FtpFileEntry, IdIsWrittenOnceAndSizeKeepsItsType)
{
    auto entry = create_instance<FTPFile>().query<_FTPFile>();
    ASSERT_TRUE(entry);
    Bstr first(L"first"), second(L"second");
    EXPECT_EQ(entry->put_ID(first.get()), S_OK);
    EXPECT_EQ(entry->put_ID(second.get()), S_OK);
    BSTR id = nullptr;
    entry->get_ID(&id);
    EXPECT_EQ(take_text(id), L"first");

    enum_FileType type{};
    entry->get_FileType(&type);
    EXPECT_EQ(type, 0);
    // Scripts may pass any 32-bit value.
    const LONG any_value = 77;
    enum_FileType passed{};
    std::memcpy(&passed, &any_value, sizeof passed);
    entry->put_FileType(passed);
    entry->get_FileType(&type);
    LONG returned = 0;
    std::memcpy(&returned, &type, sizeof returned);
    EXPECT_EQ(returned, 77);

    VARIANT size;
    Variant big;
    V_VT(big.get()) = VT_R8;
    V_R8(big.get()) = 6442450944.0;
    ASSERT_EQ(entry->put_FileSize(*big.get()), S_OK);
    entry->get_FileSize(&size);
    EXPECT_EQ(V_VT(&size), VT_R8);
    EXPECT_EQ(V_R8(&size), 6442450944.0);
    Variant text_number = text_variant(L"42");
    ASSERT_EQ(entry->put_FileSize(*text_number.get()), S_OK);
    entry->get_FileSize(&size);
    EXPECT_EQ(V_VT(&size), VT_I4);
    EXPECT_EQ(V_I4(&size), 42);
}

}  // namespace
}  // namespace corvane
