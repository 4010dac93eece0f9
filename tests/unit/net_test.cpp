// The network layer against its seam: each socket call failing in turn,
// and an active-mode data connection from a stranger refused unread.
#include "net/failure.h"
#include "net/sockets.h"
#include "net/tcp.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace corvane::net {
namespace {

constexpr DWORD bound = 10000;
const unsigned char loopback_bytes[4] = {127, 0, 0, 1};
const Endpoint loopback = Endpoint::ipv4(loopback_bytes, 0);

// The real calls, but the one named in `failing` fails with `error`; the
// first accepted connection can be made to come from 192.0.2.1.
class FaultySockets final : public SocketPlatform {
public:
    FaultySockets() { install_sockets(this); }
    ~FaultySockets() override { install_sockets(nullptr); }

    std::string failing;
    int error = 0;
    bool disguise_first_peer = false;

    int getaddrinfo(const char* node, const char* service, const ADDRINFOA* hints, PADDRINFOA* result) override
    {
        return fails("getaddrinfo") ? WSAHOST_NOT_FOUND : real_.getaddrinfo(node, service, hints, result);
    }
    void freeaddrinfo(PADDRINFOA info) override { real_.freeaddrinfo(info); }
    SOCKET socket(int f, int t, int p) override { return fails("socket") ? INVALID_SOCKET : real_.socket(f, t, p); }
    int closesocket(SOCKET s) override { return real_.closesocket(s); }
    int ioctlsocket(SOCKET s, long c, u_long* a) override
    {
        return fails("ioctlsocket") ? SOCKET_ERROR : real_.ioctlsocket(s, c, a);
    }
    int setsockopt(SOCKET s, int l, int n, const char* v, int len) override { return real_.setsockopt(s, l, n, v, len); }
    int getsockopt(SOCKET s, int l, int n, char* v, int* len) override
    {
        return fails("getsockopt") ? SOCKET_ERROR : real_.getsockopt(s, l, n, v, len);
    }
    int connect(SOCKET s, const sockaddr* a, int n) override
    {
        return fails("connect") ? SOCKET_ERROR : real_.connect(s, a, n);
    }
    int bind(SOCKET s, const sockaddr* a, int n) override { return fails("bind") ? SOCKET_ERROR : real_.bind(s, a, n); }
    int listen(SOCKET s, int b) override { return fails("listen") ? SOCKET_ERROR : real_.listen(s, b); }
    SOCKET accept(SOCKET s, sockaddr* a, int* n) override
    {
        const SOCKET accepted = real_.accept(s, a, n);
        if (accepted != INVALID_SOCKET && std::exchange(disguise_first_peer, false))
            reinterpret_cast<sockaddr_in*>(a)->sin_addr.s_addr = 0x010200c0;  // 192.0.2.1
        return accepted;
    }
    int getsockname(SOCKET s, sockaddr* a, int* n) override
    {
        return fails("getsockname") ? SOCKET_ERROR : real_.getsockname(s, a, n);
    }
    int getpeername(SOCKET s, sockaddr* a, int* n) override { return real_.getpeername(s, a, n); }
    int send(SOCKET s, const char* b, int n, int f) override { return fails("send") ? SOCKET_ERROR : real_.send(s, b, n, f); }
    int recv(SOCKET s, char* b, int n, int f) override { return fails("recv") ? SOCKET_ERROR : real_.recv(s, b, n, f); }
    int shutdown(SOCKET s, int h) override { return fails("shutdown") ? SOCKET_ERROR : real_.shutdown(s, h); }
    // Failing, it reports the time run out.
    int select(int c, fd_set* r, fd_set* w, fd_set* f, const timeval* t) override
    {
        return fails("select") ? 0 : real_.select(c, r, w, f, t);
    }
    int WSAGetLastError() override { return failed_ ? error : real_.WSAGetLastError(); }

private:
    bool fails(const char* name)
    {
        failed_ = failed_ || failing == name;
        return failing == name;
    }
    SocketPlatform& real_ = real_sockets();
    bool failed_ = false;
};

enum class Step { resolve_and_connect, connect, listen, receive, send, end_sending };

TEST(NetSocketFaults, EachFailingCallGivesItsCode)
{
    const struct {
        const char* call;
        int error;
        Step step;
        LONG expected;
    } rows[] = {
        {"getaddrinfo", 0, Step::resolve_and_connect, codes::name_not_resolved},
        {"socket", WSAEMFILE, Step::connect, codes::cannot_connect},
        {"connect", WSAECONNREFUSED, Step::connect, codes::cannot_connect},
        {"select", 0, Step::connect, codes::timed_out},
        {"getsockopt", WSAENOTSOCK, Step::connect, codes::cannot_connect},
        {"getsockname", WSAENOTSOCK, Step::connect, codes::cannot_connect},
        {"bind", WSAEADDRINUSE, Step::listen, codes::cannot_connect},
        {"listen", WSAENOBUFS, Step::listen, codes::cannot_connect},
        {"recv", WSAECONNRESET, Step::receive, codes::connection_reset},
        {"recv", WSAECONNABORTED, Step::receive, codes::connection_ended},
        {"select", 0, Step::receive, codes::timed_out},
        {"send", WSAECONNRESET, Step::send, codes::connection_reset},
        {"send", WSAENETDOWN, Step::send, codes::connection_ended},
        {"shutdown", WSAENOTCONN, Step::end_sending, codes::connection_ended},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.call + (" at step " + std::to_string(static_cast<int>(row.step))));
        Listener listener(loopback);
        FaultySockets faults;
        std::unique_ptr<TcpStream> client;
        std::unique_ptr<TcpStream> server;
        if (row.step >= Step::receive) {
            client = TcpStream::connect(listener.endpoint(), bound);
            server = listener.accept(client->local(), bound);
        }
        faults.failing = row.call;
        faults.error = row.error;
        char buffer[16];
        try {
            switch (row.step) {
            case Step::resolve_and_connect: TcpStream::connect("127.0.0.1", listener.endpoint().port(), bound); break;
            case Step::connect: TcpStream::connect(listener.endpoint(), bound); break;
            case Step::listen: Listener{loopback}; break;
            case Step::receive: client->receive(buffer, bound); break;
            case Step::send: client->send(std::string_view("x"), bound); break;
            case Step::end_sending: client->end_sending(bound); break;
            }
            ADD_FAILURE() << "no failure";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.code(), row.expected);
        }
    }
}

TEST(NetListener, ClosesAStrangersConnectionUnreadAndWaitsForThePeer)
{
    Listener listener(loopback);
    FaultySockets faults;
    faults.disguise_first_peer = true;
    auto stranger = TcpStream::connect(listener.endpoint(), bound);
    std::unique_ptr<TcpStream> peer;
    // The peer connects only once the stranger has been turned away.
    std::thread peer_side([&] {
        char buffer[16];
        try {
            EXPECT_EQ(stranger->receive(buffer, bound), 0u);
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.code(), codes::connection_reset);
        }
        peer = TcpStream::connect(listener.endpoint(), bound);
    });
    std::unique_ptr<TcpStream> accepted;
    EXPECT_NO_THROW(accepted = listener.accept(loopback, bound));
    peer_side.join();
    ASSERT_TRUE(accepted && peer);
    EXPECT_EQ(accepted->peer().port(), peer->local().port());
}

}  // namespace
}  // namespace corvane::net
