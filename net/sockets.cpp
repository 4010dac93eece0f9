#include "net/sockets.h"

#include <atomic>

namespace corvane::net {

namespace {

// The only place the component calls Winsock itself.
class RealSockets final : public SocketPlatform {
public:
    // Never cleaned up: WSACleanup while the DLL unloads would run under
    // the loader lock, and the process ending frees it anyway. A failed
    // start shows as the first call's WSANOTINITIALISED.
    RealSockets()
    {
        WSADATA data{};
        ::WSAStartup(MAKEWORD(2, 2), &data);
    }

    int getaddrinfo(const char* node, const char* service, const ADDRINFOA* hints, PADDRINFOA* result) override
    {
        return ::getaddrinfo(node, service, hints, result);
    }
    void freeaddrinfo(PADDRINFOA info) override { ::freeaddrinfo(info); }
    SOCKET socket(int family, int type, int protocol) override { return ::socket(family, type, protocol); }
    int closesocket(SOCKET socket) override { return ::closesocket(socket); }
    int ioctlsocket(SOCKET socket, long command, u_long* argument) override
    {
        return ::ioctlsocket(socket, command, argument);
    }
    int setsockopt(SOCKET socket, int level, int name, const char* value, int length) override
    {
        return ::setsockopt(socket, level, name, value, length);
    }
    int getsockopt(SOCKET socket, int level, int name, char* value, int* length) override
    {
        return ::getsockopt(socket, level, name, value, length);
    }
    int connect(SOCKET socket, const sockaddr* address, int length) override
    {
        return ::connect(socket, address, length);
    }
    int bind(SOCKET socket, const sockaddr* address, int length) override { return ::bind(socket, address, length); }
    int listen(SOCKET socket, int backlog) override { return ::listen(socket, backlog); }
    SOCKET accept(SOCKET socket, sockaddr* address, int* length) override
    {
        return ::accept(socket, address, length);
    }
    int getsockname(SOCKET socket, sockaddr* address, int* length) override
    {
        return ::getsockname(socket, address, length);
    }
    int getpeername(SOCKET socket, sockaddr* address, int* length) override
    {
        return ::getpeername(socket, address, length);
    }
    int send(SOCKET socket, const char* buffer, int length, int flags) override
    {
        return ::send(socket, buffer, length, flags);
    }
    int recv(SOCKET socket, char* buffer, int length, int flags) override
    {
        return ::recv(socket, buffer, length, flags);
    }
    int shutdown(SOCKET socket, int how) override { return ::shutdown(socket, how); }
    int select(int count, fd_set* readable, fd_set* writable, fd_set* failed, const timeval* timeout) override
    {
        // Winsock's select takes a writable time-out it never writes.
        timeval copy = timeout ? *timeout : timeval{};
        return ::select(count, readable, writable, failed, timeout ? &copy : nullptr);
    }
    int WSAGetLastError() override { return ::WSAGetLastError(); }
};

std::atomic<SocketPlatform*> installed{nullptr};

}  // namespace

SocketPlatform& real_sockets()
{
    // Started on first use, once, whichever thread comes first.
    static RealSockets real;
    return real;
}

SocketPlatform& sockets()
{
    SocketPlatform* replacement = installed.load(std::memory_order_acquire);
    return replacement ? *replacement : real_sockets();
}

SocketPlatform* install_sockets(SocketPlatform* replacement)
{
    SocketPlatform* previous = installed.exchange(replacement, std::memory_order_acq_rel);
    return previous ? previous : &real_sockets();
}

}  // namespace corvane::net
