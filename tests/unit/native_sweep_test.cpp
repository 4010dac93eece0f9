// The own engine's members against a real loopback server, then once more
// per socket call that run made, with that one call failing. Each failure
// must raise the member's own error or be shrugged off, must never pass a
// cut transfer off as done, and must leave an object that works again.

#include "frame/class_table.h"
#include "component/ftp.h"
#include "ftp/ftp_errors.h"
#include "net/sockets.h"
#include "tests/integration/loopback_servers.h"
#include "tests/unit/com_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

namespace corvane {
namespace {

using tests::error_of;
using tests::text_variant;

// Every call forwarded to the real sockets but the one chosen to fail.
class FailingSockets final : public net::SocketPlatform {
public:
    explicit FailingSockets(size_t fail_at) : fail_at_(fail_at), previous_(net::install_sockets(this)) {}
    ~FailingSockets() override { net::install_sockets(previous_); }
    size_t calls() const { return calls_; }

    int getaddrinfo(const char* node, const char* service, const ADDRINFOA* hints, PADDRINFOA* result) override
    {
        return failing() ? WSAHOST_NOT_FOUND : real().getaddrinfo(node, service, hints, result);
    }
    void freeaddrinfo(PADDRINFOA info) override { real().freeaddrinfo(info); }
    SOCKET socket(int family, int type, int protocol) override
    {
        return failing() ? INVALID_SOCKET : real().socket(family, type, protocol);
    }
    int closesocket(SOCKET socket) override { return real().closesocket(socket); }
    int ioctlsocket(SOCKET socket, long command, u_long* argument) override
    {
        return failing() ? SOCKET_ERROR : real().ioctlsocket(socket, command, argument);
    }
    int setsockopt(SOCKET socket, int level, int name, const char* value, int length) override
    {
        return failing() ? SOCKET_ERROR : real().setsockopt(socket, level, name, value, length);
    }
    int getsockopt(SOCKET socket, int level, int name, char* value, int* length) override
    {
        return failing() ? SOCKET_ERROR : real().getsockopt(socket, level, name, value, length);
    }
    int connect(SOCKET socket, const sockaddr* address, int length) override
    {
        return failing() ? SOCKET_ERROR : real().connect(socket, address, length);
    }
    int bind(SOCKET socket, const sockaddr* address, int length) override
    {
        return failing() ? SOCKET_ERROR : real().bind(socket, address, length);
    }
    int listen(SOCKET socket, int backlog) override { return failing() ? SOCKET_ERROR : real().listen(socket, backlog); }
    SOCKET accept(SOCKET socket, sockaddr* address, int* length) override
    {
        return failing() ? INVALID_SOCKET : real().accept(socket, address, length);
    }
    int getsockname(SOCKET socket, sockaddr* address, int* length) override
    {
        return failing() ? SOCKET_ERROR : real().getsockname(socket, address, length);
    }
    int getpeername(SOCKET socket, sockaddr* address, int* length) override
    {
        return failing() ? SOCKET_ERROR : real().getpeername(socket, address, length);
    }
    int send(SOCKET socket, const char* buffer, int length, int flags) override
    {
        return failing() ? SOCKET_ERROR : real().send(socket, buffer, length, flags);
    }
    int recv(SOCKET socket, char* buffer, int length, int flags) override
    {
        return failing() ? SOCKET_ERROR : real().recv(socket, buffer, length, flags);
    }
    int shutdown(SOCKET socket, int how) override { return failing() ? SOCKET_ERROR : real().shutdown(socket, how); }
    int select(int count, fd_set* readable, fd_set* writable, fd_set* failed, const timeval* timeout) override
    {
        return failing() ? SOCKET_ERROR : real().select(count, readable, writable, failed, timeout);
    }
    int WSAGetLastError() override { return failed_last_ ? WSAECONNRESET : real().WSAGetLastError(); }

private:
    static net::SocketPlatform& real() { return net::real_sockets(); }
    bool failing()
    {
        failed_last_ = ++calls_ == fail_at_;
        return failed_last_;
    }

    size_t fail_at_;
    size_t calls_ = 0;
    bool failed_last_ = false;
    net::SocketPlatform* previous_;
};

std::string file_text(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

struct Member {
    const char* name;
    std::function<HRESULT(_FTP2&)> call;
    HRESULT own_error;
    // Steps around the member's own may fail with theirs instead (PutFile
    // asks for the directory first and changes back to it after).
    std::vector<HRESULT> step_errors;
    // After a success: whether what the member did is really done.
    std::function<bool()> done;
};

class NativeSweep : public ::testing::TestWithParam<bool> {
protected:
    NativeSweep() : server(LoopbackServer::start_ftp()), root("Z:" + server.root_unix())
    {
        std::filesystem::create_directories(root / "sub");
        std::ofstream(root / "a.txt", std::ios::binary) << std::string(300 * 1024, 'a') << "end";
        local = std::filesystem::temp_directory_path() / "corvane-native-sweep";
        std::filesystem::create_directories(local);
        std::ofstream(local / "up.txt", std::ios::binary) << std::string(200 * 1024, 'u') << "end";
    }
    ~NativeSweep() override { std::filesystem::remove_all(local); }

    ComPtr<_FTP2> new_object()
    {
        ComPtr<_FTP2> ftp = create_instance<FTP>().query<_FTP2>();
        for (auto [setter, text] : {std::pair{&_FTP::put_URL, L"127.0.0.1"}, std::pair{&_FTP::put_Username, L"tester"},
                                    std::pair{&_FTP::put_Password, L"secret"}}) {
            Variant value = text_variant(text);
            EXPECT_EQ((ftp.get()->*setter)(*value.get()), S_OK);
        }
        EXPECT_EQ(ftp->put_Port(server.port()), S_OK);
        EXPECT_EQ(ftp->put_Engine(EngineNative), S_OK);
        EXPECT_EQ(ftp->put_Passive(GetParam() ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
        // Bounds a fault that leaves a wait without its answer.
        EXPECT_EQ(ftp->put_Timeout(2), S_OK);
        return ftp;
    }

    // The object answers again: still in step, or reconnected.
    void expect_usable(_FTP2& ftp)
    {
        if (ftp.OpenConnection() != S_OK)
            ADD_FAILURE() << "no reconnect";
        VARIANT directory;
        VariantInit(&directory);
        EXPECT_EQ(ftp.get_Directory(&directory), S_OK) << "out of step";
        VariantClear(&directory);
    }

    LoopbackServer server;
    std::filesystem::path root;
    std::filesystem::path local;
};

TEST_P(NativeSweep, EverySocketCallFailingOnce)
{
    const std::wstring local_file = (local / "down.txt").wstring();
    const std::wstring upload = (local / "up.txt").wstring();
    auto text = [](const wchar_t* value) { return text_variant(value); };
    const std::vector<Member> members = {
        {"OpenConnection", [](_FTP2& ftp) { ftp.CloseConnection(); return ftp.OpenConnection(); },
         ftp::errors::open_connection.number, {}, nullptr},
        {"Directory", [&](_FTP2& ftp) { return ftp.put_Directory(*text(L"sub").get()); },
         ftp::errors::set_directory.number, {}, nullptr},
        {"Files", [](_FTP2& ftp) { ComPtr<_FTPFiles> files; return ftp.Files(files.put()); },
         ftp::errors::listing.number, {}, nullptr},
        {"GetFile",
         [&](_FTP2& ftp) { return ftp.GetFile(*text(L"a.txt").get(), *text(local_file.c_str()).get(), VARIANT_TRUE); },
         ftp::errors::get_file.number, {}, [&] { return file_text(local_file) == file_text(root / "a.txt"); }},
        {"PutFile", [&](_FTP2& ftp) { return ftp.PutFile(*text(upload.c_str()).get(), *text(L"up.txt").get()); },
         ftp::errors::put_file.number,
         {ftp::errors::retrieve_directory.number, ftp::errors::set_directory.number}, [&] { return file_text(root / "up.txt") == file_text(upload); }},
        {"RemoteFileSize",
         [&](_FTP2& ftp) {
             VARIANT size;
             VariantInit(&size);
             return ftp.RemoteFileSize(*text(L"a.txt").get(), &size);
         },
         ftp::errors::remote_file_size.number, {}, nullptr},
        {"ExecuteCommand",
         [&](_FTP2& ftp) {
             BSTR reply = nullptr;
             const HRESULT result = ftp.ExecuteCommand(*text(L"NLST").get(), VARIANT_TRUE, &reply);
             SysFreeString(reply);
             return result;
         },
         ftp::errors::execute_command.number, {}, nullptr},
    };
    for (const Member& member : members) {
        size_t clean_calls = 0;
        {
            ComPtr<_FTP2> ftp = new_object();
            ASSERT_EQ(ftp->OpenConnection(), S_OK);
            const FailingSockets counting(0);
            ASSERT_EQ(member.call(*ftp.get()), S_OK) << member.name;
            clean_calls = counting.calls();
        }
        // Far past any member's calls: a path that loops ends the sweep.
        ASSERT_LT(clean_calls, 2000u) << member.name;
        for (size_t fail_at = 1; fail_at <= clean_calls; ++fail_at) {
            SCOPED_TRACE(std::string(member.name) + ", socket call " + std::to_string(fail_at) + " of " +
                         std::to_string(clean_calls) + " failing");
            ComPtr<_FTP2> ftp = new_object();
            ASSERT_EQ(ftp->OpenConnection(), S_OK);
            std::filesystem::remove(local_file);
            HRESULT result;
            {
                const FailingSockets failing(fail_at);
                result = member.call(*ftp.get());
            }
            const tests::RaisedError error = error_of(result);
            if (result == S_OK) {
                if (member.done) {
                    EXPECT_TRUE(member.done()) << "a cut transfer reported as done";
                }
            } else {
                EXPECT_TRUE(error.number == member.own_error ||
                            std::find(member.step_errors.begin(), member.step_errors.end(), error.number) !=
                                member.step_errors.end())
                    << std::hex << error.number << " " << to_utf8_unescaped(error.description);
                EXPECT_EQ(error.source, ftp::errors::source);
            }
            expect_usable(*ftp.get());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(PassiveAndActive, NativeSweep, ::testing::Bool());

}  // namespace
}  // namespace corvane
