#include "frame/error.h"
#include "ftp/ftp_errors.h"
#include "ftp/replies.h"
#include "tests/unit/fake_platform.h"
#include "wininet/error_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

namespace corvane {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::StartsWith;

class ErrorText : public ::testing::Test {
protected:
    // Scripts the message table: the text for one code, nothing for others.
    void message_for(DWORD code, const char* text)
    {
        fake.on_FormatMessageA = [this, code, text](DWORD flags, LPCVOID source, DWORD message_id, DWORD language,
                                                    LPSTR buffer, DWORD size, const DWORD_PTR* arguments) -> DWORD {
            seen_flags = flags;
            seen_source = source;
            seen_language = language;
            seen_size = size;
            seen_first_argument = arguments ? static_cast<int32_t>(arguments[0]) : -1;
            if (message_id != code)
                return 0;
            std::strncpy(buffer, text, size);
            return static_cast<DWORD>(std::strlen(text));
        };
    }

    tests::FakePlatform fake;
    DWORD seen_flags = 0;
    LPCVOID seen_source = nullptr;
    DWORD seen_language = 99;
    DWORD seen_size = 0;
    int32_t seen_first_argument = -1;
};

TEST_F(ErrorText, ComposesProcedureCodeAndMessageKeepingTheLineEnd)
{
    const auto wininet = reinterpret_cast<HMODULE>(0x5000);
    fake.on_GetModuleHandleA = [&](LPCSTR) { return wininet; };
    message_for(12002, "The operation timed out\r\n");

    EXPECT_EQ(error_text(12002, L"OpenConnection"),
              L"OpenConnection error code: 12002 Message: The operation timed out\r\n");

    EXPECT_THAT(fake.arguments_of("GetModuleHandleA"), ElementsAre("\"wininet.dll\""));
    EXPECT_EQ(seen_flags, 0x1800u);
    EXPECT_EQ(seen_source, wininet);
    EXPECT_EQ(seen_language, 0u);
    EXPECT_EQ(seen_size, 256u);
    EXPECT_EQ(seen_first_argument, 0);
    EXPECT_EQ(fake.count("InternetGetLastResponseInfoA"), 0u);
}

TEST_F(ErrorText, CodeWithoutTextEndsAfterMessageLabel)
{
    message_for(1, "unused");
    EXPECT_EQ(error_text(12345, L"Directory"), L"Directory error code: 12345 Message: ");
}

TEST_F(ErrorText, NegativeCodesKeepTheirSign)
{
    DWORD asked_for = 0;
    fake.on_FormatMessageA = [&](DWORD, LPCVOID, DWORD message_id, DWORD, LPSTR, DWORD, const DWORD_PTR*) -> DWORD {
        asked_for = message_id;
        return 0;
    };
    EXPECT_EQ(error_text(-2147012889, L"GetString"), L"GetString error code: -2147012889 Message: ");
    EXPECT_EQ(asked_for, 0x80072EE7u);
}

TEST_F(ErrorText, ExtendedErrorIsTheServerReplyAlone)
{
    message_for(12003, "The server returned extended information");
    fake.last_response = "550 No such file or directory.\r\n550 Second line";
    EXPECT_EQ(error_text(12003, L"DeleteFile"), L"550 No such file or directory.\r\n550 Second line");
    ASSERT_EQ(fake.count("InternetGetLastResponseInfoA"), 1u);
    EXPECT_THAT(fake.arguments_of("InternetGetLastResponseInfoA"), ElementsAre("2048"));
}

TEST_F(ErrorText, ExtendedErrorWithoutReplyKeepsTheComposedText)
{
    message_for(12003, "Extended error");
    fake.last_response.clear();
    EXPECT_EQ(error_text(12003, L"RenameFile"), L"RenameFile error code: 12003 Message: Extended error");
}

TEST_F(ErrorText, LongMessagesAreCutAt255Characters)
{
    // The platform writes at most the size it was given, NUL included.
    fake.on_FormatMessageA = [](DWORD, LPCVOID, DWORD, DWORD, LPSTR buffer, DWORD size, const DWORD_PTR*) -> DWORD {
        std::memset(buffer, 'x', size - 1);
        return size - 1;
    };
    const std::wstring text = error_text(7, L"P");
    EXPECT_EQ(text, L"P error code: 7 Message: " + std::wstring(255, L'x'));
}

TEST_F(ErrorText, SystemMessageTableIsTheFallback)
{
    fake.on_FormatMessageA = nullptr;  // the real lookup
    const std::wstring text = error_text(ERROR_FILE_NOT_FOUND, L"GetFile");
    EXPECT_THAT(text, StartsWith(L"GetFile error code: 2 Message: "));
    EXPECT_GT(text.size(), std::wstring(L"GetFile error code: 2 Message: ").size());
}

TEST_F(ErrorText, PlatformFailureReadsTheLastErrorFirst)
{
    message_for(12014, "Incorrect password");
    fake.last_error = 12014;
    try {
        raise_platform_failure(ftp::errors::open_connection, L"OpenConnection");
        FAIL() << "no error raised";
    } catch (const ComponentError& error) {
        EXPECT_EQ(error.number(), ftp::errors::open_connection.number);
        EXPECT_EQ(error.source(), ftp::errors::source);
        EXPECT_EQ(error.description(),
                  L"Error opening FTP connection.OpenConnection error code: 12014 Message: Incorrect password");
    }
    ASSERT_FALSE(fake.calls.empty());
    EXPECT_EQ(fake.calls.front().function, "GetLastError");
}

TEST_F(ErrorText, ReplyExplainsAFailureOnlyWhenNegativeAndLeftByTheFailingStep)
{
    struct Row {
        const char* name;
        LONG code;
        const char* before;  // the thread's record when the step began
        const char* after;   // and when the failure is reported
        bool in_step;
        const wchar_t* expected;
    };
    const std::vector<Row> rows = {
        {"no text, new negative reply", 12110, "", "421 Service not available, closing control connection.", true,
         L"P error code: 12110 Message: 421 Service not available, closing control connection."},
        {"no text, same reply as before", 12110, "550 Old failure.", "550 Old failure.", true,
         L"P error code: 12110 Message: "},
        {"no text, new positive reply", 12110, "", "227 Entering Passive Mode (127,0,0,1,4,1).", true,
         L"P error code: 12110 Message: "},
        {"no text, listing line", 12110, "", "-rw-r--r-- 1 owner group 10 Jan 01 00:00 f", true,
         L"P error code: 12110 Message: "},
        {"no text, no step", 12110, "", "421 Service not available.", false, L"P error code: 12110 Message: "},
        {"text of its own", 12002, "", "421 Service not available.", true,
         L"P error code: 12002 Message: The request has timed out."},
        {"extended, positive reply", 12003, "", "227 Entering Passive Mode (127,0,0,1,4,1).", true,
         L"P error code: 12003 Message: "},
        {"extended, negative reply", 12003, "", "550 a.bin: No such file.", true, L"550 a.bin: No such file."},
        {"extended, negative reply outside a step", 12003, "", "530 Login incorrect.", false,
         L"530 Login incorrect."},
        {"extended, multi-line negative reply", 12003, "", "451-Aborted.\r\n451 Local error.", true,
         L"451-Aborted.\r\n451 Local error."},
        {"extended, empty record", 12003, "", "", true, L"P error code: 12003 Message: "},
    };
    message_for(12002, "The request has timed out.");
    for (const Row& row : rows) {
        fake.last_response = row.before;
        std::optional<PlatformStep> step;
        if (row.in_step)
            step.emplace();
        fake.last_response = row.after;
        EXPECT_EQ(error_text(row.code, L"P"), row.expected) << row.name;
    }
}

TEST(TransferEnd, JudgedByTheLastReplyTheServerLeft)
{
    tests::FakePlatform fake;
    struct Row {
        const char* reply;
        std::optional<std::wstring> reason;
    };
    const std::wstring no_final_reply = L"The transfer ended without the server's final reply.";
    for (const Row& row : {
             Row{"", std::nullopt},
             Row{"226 Transfer complete.", std::nullopt},
             Row{"250 Requested file action okay, completed.", std::nullopt},
             Row{"150 Opening BINARY mode data connection (100000 bytes).", no_final_reply},
             Row{"125 Data connection already open; transfer starting.", no_final_reply},
             Row{"-rw-r--r-- 1 owner group 10 Jan 01 00:00 file20", no_final_reply},
             Row{"2260 Not a reply", no_final_reply},
             Row{"426 Connection closed; transfer aborted.", L"426 Connection closed; transfer aborted."},
             Row{"551-Page type unknown.\r\n551 End", L"551-Page type unknown.\r\n551 End"},
         }) {
        fake.last_response = row.reply;
        EXPECT_EQ(ftp::incomplete_transfer_reason(), row.reason) << row.reply;
    }
}

}  // namespace
}  // namespace corvane
