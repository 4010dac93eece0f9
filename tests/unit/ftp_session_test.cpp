// The FTP session and remote commands through the platform seam: the exact
// platform calls, every failure path, and what the object holds after it.

#include "frame/class_table.h"
#include "component/ftp.h"
#include "ftp/ftp_errors.h"
#include "tests/unit/com_test_support.h"
#include "tests/unit/fake_platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace corvane {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using tests::error_of;
using tests::take_text;
using tests::text_variant;

class FtpSession : public ::testing::Test {
protected:
    FtpSession() { ftp = create_instance<FTP>().query<_FTP>(); }

    void set_text(HRESULT (STDMETHODCALLTYPE _FTP::*setter)(VARIANT), std::wstring_view text)
    {
        Variant value = text_variant(text);
        ASSERT_EQ((ftp.get()->*setter)(*value.get()), S_OK);
    }

    void connect()
    {
        set_text(&_FTP::put_URL, L"127.0.0.1");
        set_text(&_FTP::put_Username, L"tester");
        ASSERT_EQ(ftp->OpenConnection(), S_OK);
    }

    std::wstring directory()
    {
        VARIANT value;
        VariantInit(&value);  // read below even when the call failed
        EXPECT_EQ(ftp->get_Directory(&value), S_OK);
        return take_text(value);
    }


    tests::FakePlatform fake;
    ComPtr<_FTP> ftp;
};

TEST_F(FtpSession, NewObjectHasItsDefaults)
{
    LONG port = 0;
    VARIANT_BOOL passive = VARIANT_TRUE;
    VARIANT text;
    EXPECT_EQ(ftp->get_Port(&port), S_OK);
    EXPECT_EQ(port, 21);
    EXPECT_EQ(ftp->get_Passive(&passive), S_OK);
    EXPECT_EQ(passive, VARIANT_FALSE);
    for (auto getter : {&_FTP::get_URL, &_FTP::get_Username, &_FTP::get_Password, &_FTP::get_Proxy}) {
        ASSERT_EQ((ftp.get()->*getter)(&text), S_OK);
        EXPECT_EQ(V_VT(&text), VT_BSTR);
        EXPECT_EQ(take_text(text), L"");
    }
    EXPECT_TRUE(fake.calls.empty());
}

TEST_F(FtpSession, PortAcceptsOneTo65535Only)
{
    LONG port = 0;
    for (LONG bad : {0L, -5L, 65536L}) {
        const auto error = error_of(ftp->put_Port(bad));
        EXPECT_EQ(error.number, ftp::errors::invalid_port.number);
        EXPECT_EQ(error.source, ftp::errors::source);
        EXPECT_EQ(error.description, L"The port number that you entered is invalid");
        ftp->get_Port(&port);
        EXPECT_EQ(port, 21);
    }
    EXPECT_EQ(ftp->put_Port(65535), S_OK);
    ftp->get_Port(&port);
    EXPECT_EQ(port, 65535);
}

TEST_F(FtpSession, ConnectHandsOverThePropertiesUnchanged)
{
    set_text(&_FTP::put_URL, L" ftp.example ");
    set_text(&_FTP::put_Username, L"tester");
    ASSERT_EQ(ftp->put_Port(40000), S_OK);
    ASSERT_EQ(ftp->OpenConnection(), S_OK);

    EXPECT_THAT(fake.arguments_of("InternetOpenA"), ElementsAre("\"Corvane FTP\"", "0", "NULL", "NULL", "0"));
    EXPECT_THAT(fake.arguments_of("InternetConnectA"),
                ElementsAre("h1", "\" ftp.example \"", "40000", "\"tester\"", "\"\"", "1", "0", "0"));
}

TEST_F(FtpSession, ProxyAndPassiveReachTheConnect)
{
    set_text(&_FTP::put_Proxy, L" proxy:8080");
    ASSERT_EQ(ftp->put_Passive(1), S_OK);
    VARIANT_BOOL passive = 0;
    ftp->get_Passive(&passive);
    EXPECT_EQ(passive, VARIANT_TRUE);
    connect();
    EXPECT_EQ(fake.arguments_of("InternetOpenA")[2], "\" proxy:8080\"");
    EXPECT_EQ(fake.arguments_of("InternetConnectA")[6], std::to_string(0x08000000));

    // A blank proxy is none at all.
    set_text(&_FTP::put_Proxy, L"   ");
    VARIANT proxy;
    ftp->get_Proxy(&proxy);
    EXPECT_EQ(take_text(proxy), L"");
    ASSERT_EQ(ftp->put_Passive(VARIANT_FALSE), S_OK);
    ASSERT_EQ(ftp->CloseConnection(), S_OK);
    ASSERT_EQ(ftp->OpenConnection(), S_OK);
    EXPECT_EQ(fake.arguments_of("InternetOpenA", 1)[2], "NULL");
    EXPECT_EQ(fake.arguments_of("InternetConnectA", 1)[6], "0");
}

TEST_F(FtpSession, MissingUrlIsReportedBeforeMissingUsername)
{
    set_text(&_FTP::put_URL, L"   ");
    auto error = error_of(ftp->OpenConnection());
    EXPECT_EQ(error.number, ftp::errors::url_not_set.number);
    EXPECT_EQ(error.description, L"Needed Property not set.  URL");

    set_text(&_FTP::put_URL, L"host");
    set_text(&_FTP::put_Username, L" ");
    error = error_of(ftp->OpenConnection());
    EXPECT_EQ(error.number, ftp::errors::username_not_set.number);
    EXPECT_EQ(error.description, L"Needed Parameter not set.  Username");
    EXPECT_TRUE(fake.calls.empty());
}

TEST_F(FtpSession, FailedConnectReleasesTheSessionAndStaysDisconnected)
{
    fake.on_FormatMessageA = [](DWORD, LPCVOID, DWORD, DWORD, LPSTR, DWORD, const DWORD_PTR*) -> DWORD { return 0; };
    fake.on_InternetConnectA = [&](auto...) -> HINTERNET {
        fake.last_error = 12029;
        return nullptr;
    };
    set_text(&_FTP::put_URL, L"host");
    set_text(&_FTP::put_Username, L"tester");
    const auto error = error_of(ftp->OpenConnection());
    EXPECT_EQ(error.number, ftp::errors::open_connection.number);
    EXPECT_EQ(error.source, ftp::errors::source);
    EXPECT_EQ(error.description, L"Error opening FTP connection.OpenConnection error code: 12029 Message: ");
    EXPECT_EQ(fake.handles_open(), 0u);
    Variant directory;
    EXPECT_EQ(error_of(ftp->get_Directory(directory.put())).number, ftp::errors::not_connected.number);
}

TEST_F(FtpSession, TimeoutsAreSetOnTheSessionBeforeTheConnect)
{
    connect();
    const std::vector<std::string> steps = fake.options_among({"InternetOpenA", "InternetConnectA"});
    // Connect, control send and receive, data send and receive: 60 s each.
    EXPECT_THAT(steps, ElementsAre("InternetOpenA", "h1 2=60000/4", "h1 5=60000/4", "h1 6=60000/4",
                                   "h1 7=60000/4", "h1 8=60000/4", "InternetConnectA"));
}

TEST_F(FtpSession, RefusedTimeoutOrSessionFailsTheConnectAndLeavesNothingOpen)
{
    fake.on_FormatMessageA = [](DWORD, LPCVOID, DWORD, DWORD, LPSTR, DWORD, const DWORD_PTR*) -> DWORD { return 0; };
    set_text(&_FTP::put_URL, L"host");
    set_text(&_FTP::put_Username, L"tester");
    struct Row {
        const char* name;
        std::function<void()> make_it_fail;
        const wchar_t* description;
    };
    auto refuse = [&](DWORD refused) {
        fake.on_InternetSetOptionA = [&, refused](HINTERNET, DWORD option, LPVOID, DWORD) {
            return option == refused ? fake.fail(12018) : TRUE;
        };
    };
    const std::wstring refused = L"Error opening FTP connection.OpenConnection error code: 12018 Message: ";
    const std::vector<Row> rows = {
        {"connect", [&] { refuse(INTERNET_OPTION_CONNECT_TIMEOUT); }, refused.c_str()},
        {"send", [&] { refuse(INTERNET_OPTION_SEND_TIMEOUT); }, refused.c_str()},
        {"receive", [&] { refuse(INTERNET_OPTION_RECEIVE_TIMEOUT); }, refused.c_str()},
        {"data send", [&] { refuse(INTERNET_OPTION_DATA_SEND_TIMEOUT); }, refused.c_str()},
        {"data receive", [&] { refuse(INTERNET_OPTION_DATA_RECEIVE_TIMEOUT); }, refused.c_str()},
        {"session",
         [&] {
             fake.on_InternetOpenA = [&](auto...) -> HINTERNET {
                 fake.last_error = 12001;
                 return nullptr;
             };
         },
         L"Error opening FTP connection.OpenConnection error code: 12001 Message: "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const size_t connects = fake.count("InternetConnectA");
        row.make_it_fail();
        const auto error = error_of(ftp->OpenConnection());
        EXPECT_EQ(error.number, ftp::errors::open_connection.number);
        EXPECT_EQ(error.description, row.description);
        EXPECT_EQ(fake.count("InternetConnectA"), connects);
        EXPECT_EQ(fake.handles_open(), 0u);
        VARIANT directory_value;
        VariantInit(&directory_value);
        EXPECT_EQ(error_of(ftp->get_Directory(&directory_value)).number, ftp::errors::not_connected.number);
        VariantClear(&directory_value);
        // Nothing is kept: the next OpenConnection starts over.
        fake.on_InternetSetOptionA = nullptr;
        fake.on_InternetOpenA = nullptr;
        ASSERT_EQ(ftp->OpenConnection(), S_OK);
        ASSERT_EQ(ftp->CloseConnection(), S_OK);
    }
}

TEST_F(FtpSession, RefusedLoginShowsTheServerReply)
{
    fake.on_InternetConnectA = [&](auto...) -> HINTERNET {
        fake.last_error = 12003;
        fake.last_response = "530 Login incorrect.";
        return nullptr;
    };
    set_text(&_FTP::put_URL, L"host");
    set_text(&_FTP::put_Username, L"tester");
    EXPECT_EQ(error_of(ftp->OpenConnection()).description, L"Error opening FTP connection.530 Login incorrect.");
}

TEST_F(FtpSession, SecondOpenIgnoresChangesUntilReconnected)
{
    connect();
    set_text(&_FTP::put_URL, L"other");
    ASSERT_EQ(ftp->OpenConnection(), S_OK);
    EXPECT_EQ(fake.count("InternetConnectA"), 1u);

    ASSERT_EQ(ftp->CloseConnection(), S_OK);
    EXPECT_THAT(fake.calls_to("InternetCloseHandle"), ::testing::SizeIs(2));
    EXPECT_EQ(fake.arguments_of("InternetCloseHandle", 0)[0], "h2");  // connection first
    EXPECT_EQ(fake.arguments_of("InternetCloseHandle", 1)[0], "h1");
    ASSERT_EQ(ftp->OpenConnection(), S_OK);
    EXPECT_EQ(fake.arguments_of("InternetConnectA", 1)[1], "\"other\"");
}

TEST_F(FtpSession, CloseFailureKeepsTheObjectConnectedOnlyWhileItsConnectionIsOpen)
{
    fake.on_FormatMessageA = [](DWORD, LPCVOID, DWORD, DWORD, LPSTR, DWORD, const DWORD_PTR*) -> DWORD { return 0; };
    for (const std::string failing : {"h2", "h1"}) {
        tests::FakePlatform round;
        round.on_FormatMessageA = fake.on_FormatMessageA;
        ftp = create_instance<FTP>().query<_FTP>();
        connect();
        round.on_InternetCloseHandle = [&](HINTERNET handle) {
            if (tests::FakePlatform::handle_name(handle) == failing)
                return round.fail(12017);
            return TRUE;
        };
        const auto error = error_of(ftp->CloseConnection());
        EXPECT_EQ(error.number, ftp::errors::close_connection.number) << failing;
        EXPECT_EQ(error.description,
                  L"Error closing connection to remote server.CloseConnection error code: 12017 Message: ");
        round.on_InternetCloseHandle = nullptr;
        if (failing == "h2") {
            // Still connected: Directory asks the server instead of refusing,
            // and a reply that never comes is still ended by the watchdog.
            EXPECT_EQ(directory(), L"/");
            ASSERT_EQ(ftp.query<_FTP2>()->put_Timeout(1), S_OK);
            HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            round.on_InternetCloseHandle = [&](HINTERNET handle) {
                if (tests::FakePlatform::handle_name(handle) == "h2")
                    SetEvent(closed);
                return TRUE;
            };
            // Bounded: a watchdog that never fires fails the test, not the program.
            round.on_FtpSetCurrentDirectoryA = [&](HINTERNET, LPCSTR) {
                return WaitForSingleObject(closed, 20000) == WAIT_OBJECT_0 ? round.fail(ERROR_INTERNET_OPERATION_CANCELLED)
                                                                            : TRUE;
            };
            Variant stalled = text_variant(L"sub");
            EXPECT_THAT(error_of(ftp->put_Directory(*stalled.get())).description, HasSubstr(L"Timed out"));
            round.on_InternetCloseHandle = nullptr;
            CloseHandle(closed);
        } else {
            // The connection closed before the session failed to: nothing
            // left to ask, and a new connection can be opened.
            Variant unknown;
            EXPECT_EQ(error_of(ftp->get_Directory(unknown.put())).number, ftp::errors::not_connected.number);
            ASSERT_EQ(ftp->OpenConnection(), S_OK);
            EXPECT_EQ(round.count("InternetConnectA"), 2u);
        }
        ftp.reset();
        EXPECT_EQ(round.handles_open(), 0u) << failing;
    }
}

TEST_F(FtpSession, DestructionClosesBothHandles)
{
    connect();
    EXPECT_EQ(fake.handles_open(), 2u);
    ftp.reset();
    EXPECT_EQ(fake.handles_open(), 0u);
}

TEST_F(FtpSession, CloseWithoutConnectionDoesNothing)
{
    EXPECT_EQ(ftp->CloseConnection(), S_OK);
    EXPECT_EQ(ftp->CloseConnection(), S_OK);
    EXPECT_TRUE(fake.calls.empty());
}

TEST_F(FtpSession, TransferTypeTakesOnlyAsciiOrBinary)
{
    connect();
    BSTR reply = nullptr;
    ASSERT_EQ(ftp->put_TransferType(TransferBinary), S_OK);
    ASSERT_EQ(ftp->put_TransferType(static_cast<Ftp_Transfer_Type>(3)), S_OK);
    ASSERT_EQ(ftp->put_TransferType(static_cast<Ftp_Transfer_Type>(0)), S_OK);
    Variant command = text_variant(L"NOOP");
    ASSERT_EQ(ftp->ExecuteCommand(*command.get(), VARIANT_FALSE, &reply), S_OK);
    EXPECT_EQ(take_text(reply), L"");
    EXPECT_THAT(fake.arguments_of("FtpCommandA"), ElementsAre("h2", "0", "2", "\"NOOP\"", "0"));
    EXPECT_EQ(fake.count("InternetReadFile"), 0u);
}

TEST_F(FtpSession, CommandReplyIsReadToItsEndAndTheChannelClosed)
{
    connect();
    const std::string reply(3000, 'r');
    size_t sent = 0;
    fake.on_InternetReadFile = [&](HINTERNET, LPVOID buffer, DWORD, LPDWORD bytes_read) {
        // The network hands the reply over in uneven pieces.
        const size_t piece = std::min<size_t>(sent == 0 ? 700 : 1100, reply.size() - sent);
        std::memcpy(buffer, reply.data() + sent, piece);
        sent += piece;
        *bytes_read = static_cast<DWORD>(piece);
        return TRUE;
    };
    BSTR result = nullptr;
    Variant command = text_variant(L"STAT");
    ASSERT_EQ(ftp->ExecuteCommand(*command.get(), VARIANT_TRUE, &result), S_OK);
    EXPECT_EQ(take_text(result), std::wstring(3000, L'r'));
    EXPECT_EQ(fake.arguments_of("FtpCommandA")[1], "-1");
    EXPECT_EQ(fake.arguments_of("FtpCommandA")[2], "1");
    EXPECT_EQ(fake.handles_open(), 2u);  // the data channel is closed again
    EXPECT_EQ(fake.handles_opened(), 3u);
}

TEST_F(FtpSession, FailingCommandAndFailingRead)
{
    connect();
    fake.on_FtpCommandA = [&](auto...) { return fake.fail(12003); };
    fake.last_response = "500 Unknown command.";
    BSTR result = nullptr;
    Variant command = text_variant(L"BOGUS");
    auto error = error_of(ftp->ExecuteCommand(*command.get(), VARIANT_TRUE, &result));
    EXPECT_EQ(error.number, ftp::errors::execute_command.number);
    EXPECT_EQ(error.description, L"Error executing command on FTP server.500 Unknown command.");

    // A read that fails cuts the reply short: an error, not a shorter reply,
    // and the data channel is closed all the same.
    fake.on_FtpCommandA = nullptr;
    int reads = 0;
    fake.on_InternetReadFile = [&](HINTERNET, LPVOID buffer, DWORD, LPDWORD bytes_read) {
        if (reads++ > 0)
            return fake.fail(12030);
        std::memcpy(buffer, "partial", 7);
        *bytes_read = 7;
        return TRUE;
    };
    error = error_of(ftp->ExecuteCommand(*command.get(), VARIANT_TRUE, &result));
    EXPECT_EQ(error.number, ftp::errors::execute_command.number);
    EXPECT_THAT(error.description,
                StartsWith(L"Error executing command on FTP server.ExecuteCommand error code: 12030 Message: "));
    EXPECT_EQ(fake.handles_open(), 2u);
}

TEST_F(FtpSession, DirectoryAlwaysEndsWithOneSlash)
{
    connect();
    std::string reported;
    fake.on_FtpGetCurrentDirectoryA = [&](HINTERNET, LPSTR buffer, LPDWORD length) {
        std::strcpy(buffer, reported.c_str());
        *length = static_cast<DWORD>(reported.size());
        return TRUE;
    };
    for (auto [server, expected] : std::vector<std::pair<std::string, std::wstring>>{
             {"/", L"/"}, {"/pub", L"/pub/"}, {"/pub/", L"/pub/"}, {"/a//b", L"/a/b/"}, {"/a///b", L"/a//b/"}}) {
        reported = server;
        EXPECT_EQ(directory(), expected) << server;
    }
    EXPECT_EQ(fake.arguments_of("FtpGetCurrentDirectoryA")[1], "260");
}

TEST_F(FtpSession, LongDirectoryIsAskedForAgainWithTheSizeNeeded)
{
    connect();
    const std::string deep = "/" + std::string(300, 'd');
    fake.on_FtpGetCurrentDirectoryA = [&](HINTERNET, LPSTR buffer, LPDWORD length) {
        if (*length <= deep.size()) {
            *length = static_cast<DWORD>(deep.size() + 1);
            return fake.fail(ERROR_INSUFFICIENT_BUFFER);
        }
        std::strcpy(buffer, deep.c_str());
        return TRUE;
    };
    EXPECT_EQ(directory(), L"/" + std::wstring(300, L'd') + L"/");
}

TEST_F(FtpSession, LongDirectoryIsAskedForWithAGrowingBuffer)
{
    connect();
    fake.on_FormatMessageA = [](DWORD, LPCVOID, DWORD, DWORD, LPSTR, DWORD, const DWORD_PTR*) -> DWORD { return 0; };
    struct Case {
        size_t length;
        bool size_reported;  // Windows says how much it needs; Wine does not
        size_t most_calls;
    };
    std::string deep;
    bool report = false;
    fake.on_FtpGetCurrentDirectoryA = [&](HINTERNET, LPSTR buffer, LPDWORD length) {
        if (*length <= deep.size()) {
            if (report)
                *length = static_cast<DWORD>(deep.size() + 1);
            return fake.fail(ERROR_INSUFFICIENT_BUFFER);
        }
        std::memcpy(buffer, deep.c_str(), deep.size() + 1);
        *length = static_cast<DWORD>(deep.size());
        return TRUE;
    };
    for (const Case& example : {Case{259, false, 1}, Case{260, false, 2}, Case{300, false, 2}, Case{1000, false, 9},
                                Case{65535, false, 9}, Case{5000, true, 2}, Case{65535, true, 2}}) {
        deep = "/" + std::string(example.length - 1, 'd');
        report = example.size_reported;
        fake.calls.clear();
        EXPECT_EQ(to_ansi(directory()), deep + "/") << example.length;
        EXPECT_LE(fake.count("FtpGetCurrentDirectoryA"), example.most_calls) << example.length;
    }

    // Past the limit the platform's own error stands, after a bounded number
    // of tries.
    for (bool size_reported : {false, true}) {
        deep = "/" + std::string(70000, 'd');
        report = size_reported;
        fake.calls.clear();
        VARIANT value;
        const auto error = error_of(ftp->get_Directory(&value));
        EXPECT_EQ(error.number, ftp::errors::retrieve_directory.number);
        EXPECT_EQ(error.description, L"Error retrieving directory.Directory error code: 122 Message: ");
        const auto calls = fake.calls_to("FtpGetCurrentDirectoryA");
        ASSERT_FALSE(calls.empty());
        EXPECT_LE(calls.size(), 10u);
        EXPECT_EQ(calls.back().arguments[1], "65536");
    }
}

TEST_F(FtpSession, DirectoryNeedsAConnectionAndReportsFailures)
{
    VARIANT value;
    Variant target = text_variant(L"/pub");
    for (auto call : std::vector<std::function<HRESULT()>>{[&] { return ftp->get_Directory(&value); },
                                                          [&] { return ftp->put_Directory(*target.get()); }}) {
        const auto error = error_of(call());
        EXPECT_EQ(error.number, ftp::errors::not_connected.number);
        EXPECT_EQ(error.description, L"Error getting/setting directory.  No connection open.");
    }
    EXPECT_TRUE(fake.calls.empty());

    connect();
    fake.on_FormatMessageA = [](DWORD, LPCVOID, DWORD, DWORD, LPSTR, DWORD, const DWORD_PTR*) -> DWORD { return 0; };
    fake.on_FtpGetCurrentDirectoryA = [&](auto...) { return fake.fail(12030); };
    fake.on_FtpSetCurrentDirectoryA = [&](auto...) { return fake.fail(12003); };
    fake.last_response = "550 /pub: No such file or directory.";
    auto error = error_of(ftp->get_Directory(&value));
    EXPECT_EQ(error.number, ftp::errors::retrieve_directory.number);
    EXPECT_EQ(error.description, L"Error retrieving directory.Directory error code: 12030 Message: ");
    error = error_of(ftp->put_Directory(*target.get()));
    EXPECT_EQ(error.number, ftp::errors::set_directory.number);
    EXPECT_EQ(error.description, L"Error setting directory.550 /pub: No such file or directory.");
    EXPECT_THAT(fake.arguments_of("FtpSetCurrentDirectoryA"), ElementsAre("h2", "\"/pub\""));
}

TEST_F(FtpSession, SingleCallOperationsRaiseTheirOwnErrors)
{
    fake.on_FormatMessageA = [](DWORD, LPCVOID, DWORD, DWORD, LPSTR, DWORD, const DWORD_PTR*) -> DWORD { return 0; };
    // Without a connection the call is refused as the platform refuses a
    // missing handle, and never made.
    auto refuse_missing_handle = [&](HINTERNET connection) { return connection ? TRUE : fake.fail(6); };
    fake.on_FtpCreateDirectoryA = [&](HINTERNET connection, LPCSTR) { return refuse_missing_handle(connection); };
    fake.on_FtpRemoveDirectoryA = [&](HINTERNET connection, LPCSTR) { return refuse_missing_handle(connection); };
    fake.on_FtpRenameFileA = [&](HINTERNET connection, LPCSTR, LPCSTR) { return refuse_missing_handle(connection); };
    fake.on_FtpDeleteFileA = [&](HINTERNET connection, LPCSTR) { return refuse_missing_handle(connection); };
    fake.on_FtpCommandA = [&](HINTERNET connection, auto...) { return refuse_missing_handle(connection); };

    Variant name = text_variant(L"a b");
    Variant other = text_variant(L"c");
    BSTR reply = nullptr;
    struct Expected {
        std::function<HRESULT()> call;
        HRESULT number;
        const wchar_t* description;
    };
    for (const Expected& expected : {
             Expected{[&] { return ftp->CreateDirectory(*name.get()); }, ftp::errors::create_directory.number,
                      L"Error creating directory.CreateDirectory error code: 6 Message: "},
             Expected{[&] { return ftp->RemoveDirectory(*name.get()); }, ftp::errors::remove_directory.number,
                      L"Error removing directory.RemoveDirectory error code: 6 Message: "},
             Expected{[&] { return ftp->RenameFile(*name.get(), *other.get()); }, ftp::errors::rename_file.number,
                      L"Error renaming file/directory.RenameFile error code: 6 Message: "},
             Expected{[&] { return ftp->DeleteFile(*name.get()); }, ftp::errors::delete_file.number,
                      L"Error deleting file from the remote server.DeleteFile error code: 6 Message: "},
             Expected{[&] { return ftp->ExecuteCommand(*name.get(), VARIANT_FALSE, &reply); },
                      ftp::errors::execute_command.number,
                      L"Error executing command on FTP server.ExecuteCommand error code: 6 Message: "},
         }) {
        const auto error = error_of(expected.call());
        EXPECT_EQ(error.number, expected.number);
        EXPECT_EQ(error.source, ftp::errors::source);
        EXPECT_EQ(error.description, expected.description);
    }

    connect();
    ASSERT_EQ(ftp->RenameFile(*name.get(), *other.get()), S_OK);
    EXPECT_THAT(fake.arguments_of("FtpRenameFileA", 0), ElementsAre("h2", "\"a b\"", "\"c\""));
    ASSERT_EQ(ftp->DeleteFile(*other.get()), S_OK);
    EXPECT_THAT(fake.arguments_of("FtpDeleteFileA", 0), ElementsAre("h2", "\"c\""));
}

TEST_F(FtpSession, LastResponseNeedsNoConnectionAndIsNeverCut)
{
    VARIANT value;
    fake.last_response = "";
    ASSERT_EQ(ftp->GetLastResponse(&value), S_OK);
    EXPECT_EQ(take_text(value), L"");

    fake.last_response = "211-Features:\r\n" + std::string(3000, 'f') + "\r\n211 End";
    ASSERT_EQ(ftp->GetLastResponse(&value), S_OK);
    EXPECT_EQ(to_ansi(take_text(value)), fake.last_response);
}

TEST_F(FtpSession, PageObjectsAreNeededOnlyWhenUsed)
{
    VARIANT result;
    const auto error = error_of(ftp->OnStartPage(nullptr, &result));
    EXPECT_TRUE(FAILED(error.number));
    EXPECT_TRUE(fake.calls.empty());
}

}  // namespace
}  // namespace corvane
