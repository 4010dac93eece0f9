// The component's own FTP engine (Engine = 2) against servers that misbehave
// on purpose: what it must get through, and what it must refuse rather than
// wait for or take in without bound.

#include <winsock2.h>

#include "ftp/ftp_errors.h"
#include "tests/common/local_files.h"
#include "tests/integration/automation.h"
#include "tests/integration/loopback_servers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace corvane::integration {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

constexpr int engine_platform = 1;
constexpr int engine_native = 2;
const HRESULT engine_refused = static_cast<HRESULT>(0x80040217L);
const HRESULT no_engine = static_cast<HRESULT>(0x80040218L);

Automation ftp_on(int engine, const LoopbackServer& server)
{
    Automation ftp = Automation::create_as_made(L"corvane.FTP");
    if (engine != engine_platform)  // the default
        ftp.put(L"Engine", engine);
    ftp.put(L"URL", L"127.0.0.1");
    ftp.put(L"Port", server.port());
    ftp.put(L"Username", L"tester");
    ftp.put(L"Password", L"secret");
    ftp.put(L"TransferType", 2);
    return ftp;
}

// "name size" for a file, "name/" for a directory, in the server's order.
std::string listed(Automation& ftp)
{
    ftp.call(L"OpenConnection");
    std::string text;
    for (const Value& item : Automation(ftp.call(L"Files").object()).for_each()) {
        const Automation entry(item.object());
        text += text.empty() ? "" : "|";
        text += narrow(entry.get(L"Filename").text());
        text += entry.get(L"FileType").integer() == 1 ? "/" : " " + std::to_string(entry.get(L"FileSize").integer());
    }
    return text;
}

// The bytes stored locally, as a count: the misbehaving server's file is
// --size (100000) bytes.
std::string fetched(Automation& ftp)
{
    const fs::path local = fs::temp_directory_path() / ("corvane-native-" + std::to_string(GetCurrentProcessId()));
    std::error_code ignored;
    fs::remove(local, ignored);
    ftp.call(L"OpenConnection");
    ftp.call(L"GetFile", {L"big.bin", local.wstring(), true});
    const std::string size = std::to_string(corvane::tests::read_bytes(local).size());
    fs::remove(local, ignored);
    return size;
}

std::string numbered_files(int count)
{
    std::string text;
    for (int index = 1; index <= count; ++index)
        text += (index > 1 ? "|file" : "file") + std::string(index < 10 ? "0" : "") + std::to_string(index) + " 10";
    return text;
}

TEST(NativeEngineAgainstMisbehavingServer, GetsThroughOrRefusesWithinItsTimeout)
{
    const std::string twenty_files = numbered_files(20);
    // What odd-listing and mlsd list: names with spaces and a size past
    // 4 GiB kept, "." , ".." and "a/b" never shown ("..\x" is a name like
    // any other until a tree download would write it).
    const std::string mlsd_names = "name with  two spaces.txt 11|huge.bin 6000000000|folder with space/|plain.txt 7";
    const std::string odd_names = "..\\x 10|" + mlsd_names;
    struct Row {
        const char* scenario;
        int engine;
        bool passive;
        bool trust_passive_address;
        int timeout_seconds;  // 2 where the wait is the point
        std::function<std::string(Automation&)> call;
        HRESULT number;  // 0: the call works and gives `outcome`
        std::string outcome;  // else: text the error's description holds
    };
    const auto open_and_ask_directory = [](Automation& ftp) {
        ftp.call(L"OpenConnection");
        return narrow(ftp.get(L"Directory").text());
    };
    const auto change_directory = [](Automation& ftp) {
        ftp.call(L"OpenConnection");
        ftp.put(L"Directory", L"sub");
        return std::string();
    };
    const auto open = [](Automation& ftp) {
        ftp.call(L"OpenConnection");
        return std::string();
    };
    const std::vector<Row> rows = {
        {"split-replies", engine_native, true, false, 30, listed, 0, twenty_files},
        {"split-replies", engine_native, true, false, 30, fetched, 0, "100000"},
        {"split-replies", engine_native, false, false, 30, fetched, 0, "100000"},
        {"epsv-refused", engine_native, true, false, 30, listed, 0, twenty_files},
        {"epsv-refused", engine_native, false, false, 30, fetched, 0, "100000"},
        // The 227's address is the server's word against the connection's.
        {"pasv-foreign-address", engine_native, true, false, 30, listed, 0, twenty_files},
        {"pasv-foreign-address", engine_native, true, true, 30, listed, ftp::errors::listing.number, "12029"},
        {"odd-listing", engine_native, true, false, 30, listed, 0, odd_names},
        {"mlsd", engine_native, true, false, 30, listed, 0, mlsd_names},
        // Wine's WinInet cuts a name at its first space, caps a size at 2^31 - 1,
        // passes on what is no entry, and knows nothing of MLSD.
        {"odd-listing", engine_platform, true, false, 30, listed, 0,
         "./|../|a/b 10|..\\x 10|name 11|huge.bin 2147483647|folder/|plain.txt 7"},
        {"mlsd", engine_platform, true, false, 30, listed, 0, "listed-by-list.txt 5"},
        {"long-reply-line", engine_native, true, false, 30, open_and_ask_directory,
         ftp::errors::retrieve_directory.number, "12152"},
        {"abort-426", engine_native, true, false, 30, fetched, ftp::errors::get_file.number,
         "426 Connection closed; transfer aborted."},
        {"abort-426", engine_native, true, false, 30, listed, ftp::errors::listing.number, "426 "},
        {"silent", engine_native, true, false, 2, open, ftp::errors::open_connection.number, "Timed out: the server sent nothing for 2 seconds."},
        {"silent-after-login", engine_native, true, false, 2, change_directory, ftp::errors::set_directory.number,
         "Timed out: the server sent nothing for 2 seconds."},
        {"stall-file", engine_native, true, false, 2, fetched, ftp::errors::get_file.number, "Timed out: the server sent nothing for 2 seconds."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.scenario) + ", engine " + std::to_string(row.engine) +
                     (row.passive ? ", passive" : ", active") + (row.trust_passive_address ? ", trusting" : ""));
        LoopbackServer server = LoopbackServer::start_misbehaving_ftp(row.scenario);
        Automation ftp = ftp_on(row.engine, server);
        ftp.put(L"Passive", row.passive);
        ftp.put(L"Timeout", row.timeout_seconds);
        if (row.trust_passive_address)
            ftp.put(L"TrustPassiveAddress", true);
        std::string result;
        const ScriptError error = error_of([&] { result = row.call(ftp); });
        EXPECT_EQ(error.number, row.number) << narrow(error.description);
        if (row.number == 0)
            EXPECT_EQ(result, row.outcome);
        else
            EXPECT_THAT(narrow(error.description), HasSubstr(row.outcome));
    }
}

// A change of engine under an open connection would leave it to the other
// engine's handles; other numbers than the two engines' are no engine.
TEST(NativeEngineProperty, ChosenOnlyWhileDisconnected)
{
    LoopbackServer server = LoopbackServer::start_ftp();
    Automation ftp = ftp_on(engine_platform, server);
    EXPECT_EQ(Automation::create_as_made(L"corvane.FTP").get(L"Engine").integer(), engine_platform);
    EXPECT_FALSE(Automation::create_as_made(L"corvane.FTP").get(L"TrustPassiveAddress").integer());

    for (const int refused : {0, 3, -1}) {
        const ScriptError error = error_of([&] { ftp.put(L"Engine", refused); });
        EXPECT_EQ(error.number, no_engine) << refused;
        EXPECT_EQ(ftp.get(L"Engine").integer(), engine_platform);
    }
    ftp.put(L"Engine", engine_native);
    EXPECT_EQ(ftp.get(L"Engine").integer(), engine_native);

    ftp.call(L"OpenConnection");
    const ScriptError error = error_of([&] { ftp.put(L"Engine", engine_platform); });
    EXPECT_EQ(error.number, engine_refused);
    EXPECT_EQ(error.description, L"The engine can be changed only while no connection is open.");
    EXPECT_EQ(ftp.get(L"Engine").integer(), engine_native);
    EXPECT_EQ(ftp.get(L"Directory").text(), L"/");

    ftp.call(L"CloseConnection");
    ftp.put(L"Engine", engine_platform);
    EXPECT_EQ(ftp.get(L"Engine").integer(), engine_platform);
}

// The engine says TYPE only when the type changes; a script's own command
// may have changed it, so the next transfer says it again.
TEST(NativeEngineProperty, TypeSaidAgainAfterAScriptsCommand)
{
    LoopbackServer server = LoopbackServer::start_ftp_logging_commands();
    Automation ftp = ftp_on(engine_native, server);
    ftp.call(L"OpenConnection");
    ftp.call(L"Files");
    ftp.call(L"ExecuteCommand", {L"TYPE I", false});
    ftp.call(L"Files");
    std::vector<std::string> types;
    for (const std::string& line : server.received_commands())
        if (line.starts_with("TYPE"))
            types.push_back(line);
    EXPECT_EQ(types, (std::vector<std::string>{"TYPE A", "TYPE I", "TYPE A"}));
}

}  // namespace
}  // namespace corvane::integration
