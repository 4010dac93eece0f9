// FTP over TLS, explicit and implicit, against vsftpd requiring TLS for the
// login and every data connection, called by name as a script calls it.

#include <winsock2.h>

#include "ftp/ftp_errors.h"
#include "tests/common/local_files.h"
#include "tests/integration/automation.h"
#include "tests/integration/loopback_servers.h"
#include "tests/integration/test_certificates.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <random>

namespace corvane::integration {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::HasSubstr;
using corvane::tests::read_bytes;
using corvane::tests::write_bytes;

constexpr int security_none = 0;
constexpr int security_explicit = 1;
constexpr int security_implicit = 2;

std::string random_bytes(size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
    return bytes;
}

// The object as made: TLS picks the own engine whatever the run chose.
Automation ftps_to(const LoopbackServer& server, int security, bool ignore_certificate_errors = false)
{
    Automation ftp = Automation::create_as_made(L"corvane.FTP");
    ftp.put(L"Security", security);
    ftp.put(L"IgnoreCertificateErrors", ignore_certificate_errors);
    ftp.put(L"URL", L"localhost");  // the name the certificates are for
    ftp.put(L"Port", server.port());
    ftp.put(L"Username", L"anonymous");
    ftp.put(L"Password", L"tester@localhost");
    ftp.put(L"TransferType", 2);
    ftp.put(L"Timeout", 5);
    return ftp;
}

std::vector<std::string> names_in(const Automation& ftp)
{
    std::vector<std::string> names;
    for (const Value& entry : Automation(ftp.call(L"Files").object()).for_each())
        names.push_back(narrow(Automation(entry.object()).get(L"Filename").text()));
    return names;
}

class Ftps : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        certificates = &process_certificates();
        trust = new TrustedRoot(certificates->ca_der());
    }
    static void TearDownTestSuite()
    {
        delete trust;
        trust = nullptr;
        if (machine_root_store_holds(certificates->ca_der()))
            ADD_FAILURE() << "the test CA is still in the prefix's ROOT store";
    }
    void SetUp() override
    {
        local = fs::temp_directory_path() /
                ("corvane-ftps-" + std::to_string(GetCurrentProcessId()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(local);
        fs::create_directories(local);
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(local, ignored);
    }

    static const TestCertificates* certificates;
    static TrustedRoot* trust;
    fs::path local;
};

const TestCertificates* Ftps::certificates = nullptr;
TrustedRoot* Ftps::trust = nullptr;

using FtpsTransfers = Ftps;
using FtpsCertificates = Ftps;

TEST_F(FtpsTransfers, ListGetPutResumeByteExactOverEveryMode)
{
    const std::string whole = random_bytes(1024 * 1024 + 13, 21);
    const struct {
        bool implicit;
        bool passive;
    } rows[] = {{false, true}, {false, false}, {true, true}, {true, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.implicit ? "implicit" : "explicit") + (row.passive ? ", passive" : ", active"));
        LoopbackServer server = LoopbackServer::start_ftps(row.implicit, certificates->cert(), certificates->key());
        const fs::path root(server.root_windows());
        write_bytes(root / "whole.bin", whole);
        Automation ftp = ftps_to(server, row.implicit ? security_implicit : security_explicit);
        ftp.put(L"Passive", row.passive);
        EXPECT_EQ(ftp.get(L"Engine").integer(), 2);
        EXPECT_EQ(error_of([&] { ftp.put(L"Engine", 1); }).number, ftp::errors::platform_without_tls.number);

        ftp.call(L"OpenConnection");
        EXPECT_THAT(names_in(ftp), ::testing::UnorderedElementsAre("whole.bin", "up"));
        ftp.call(L"GetFile", {L"whole.bin", (local / "got.bin").wstring(), true});
        EXPECT_TRUE(read_bytes(local / "got.bin") == whole);
        ftp.call(L"PutFile", {(local / "got.bin").wstring(), L"/up/back.bin"});
        EXPECT_TRUE(read_bytes(root / "up" / "back.bin") == whole);
        write_bytes(local / "part.bin", whole.substr(0, 300001));
        ftp.call(L"ResumeFile", {L"whole.bin", (local / "part.bin").wstring()});
        EXPECT_TRUE(read_bytes(local / "part.bin") == whole);
        EXPECT_EQ(ftp.get(L"BytesTransferred").integer(), static_cast<long long>(whole.size() - 300001));
        ftp.call(L"CloseConnection");
    }
}

TEST_F(FtpsCertificates, FaultsRefusedUnlessIgnored)
{
    const struct {
        std::string cert;
        const char* code;
    } rows[] = {
        {certificates->untrusted_cert(), "12045"},
        {certificates->wrong_name_cert(), "12038"},
        {certificates->expired_cert(), "12037"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.cert);
        LoopbackServer server = LoopbackServer::start_ftps(false, row.cert, certificates->key());
        const ScriptError refused = error_of([&] { ftps_to(server, security_explicit).call(L"OpenConnection"); });
        EXPECT_EQ(refused.number, ftp::errors::open_connection.number);
        EXPECT_THAT(narrow(refused.description), HasSubstr(std::string("OpenConnection error code: ") + row.code));

        Automation lenient = ftps_to(server, security_explicit, true);
        lenient.call(L"OpenConnection");
        EXPECT_THAT(names_in(lenient), Contains("up"));
    }
}

TEST(FtpsRefused, NothingInClearTextWhenAuthTlsIsRefused)
{
    LoopbackServer server = LoopbackServer::start_misbehaving_ftp("no-tls", true);
    const ScriptError error = error_of([&] { ftps_to(server, security_explicit).call(L"OpenConnection"); });
    EXPECT_EQ(error.number, ftp::errors::open_connection.number);
    EXPECT_THAT(narrow(error.description), HasSubstr("500 AUTH not understood."));
    EXPECT_THAT(narrow(error.description),
                HasSubstr("The server refused TLS (AUTH TLS); nothing is sent in clear text instead."));
    const std::vector<std::string> heard = server.received_commands();
    EXPECT_THAT(heard, Contains("AUTH TLS"));
    EXPECT_TRUE(std::none_of(heard.begin(), heard.end(), [](const std::string& line) {
        return line.size() >= 4 && ::_strnicmp(line.c_str(), "USER", 4) == 0;
    })) << ::testing::PrintToString(heard);
}

TEST(FtpsPort, ImplicitDefaultsTo990UnlessSet)
{
    Automation ftp = Automation::create_as_made(L"corvane.FTP");
    ftp.put(L"Security", security_implicit);
    EXPECT_EQ(ftp.get(L"Port").integer(), 990);
    ftp.put(L"Security", security_none);
    EXPECT_EQ(ftp.get(L"Port").integer(), 21);

    ftp.put(L"Port", 2121);
    ftp.put(L"Security", security_implicit);
    EXPECT_EQ(ftp.get(L"Port").integer(), 2121);
}

}  // namespace
}  // namespace corvane::integration
