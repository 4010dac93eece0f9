#pragma once
// Every Winsock call of the component goes through sockets(). The shipped
// DLL forwards to the real system (starting Winsock once, on first use);
// tests install a replacement that fails any call, the way wininet() lets
// them fail every WinInet call.

#include "net/endpoint.h"

namespace corvane::net {

class SocketPlatform {
public:
    virtual ~SocketPlatform() = default;

    virtual int getaddrinfo(const char* node, const char* service, const ADDRINFOA* hints, PADDRINFOA* result) = 0;
    virtual void freeaddrinfo(PADDRINFOA info) = 0;
    virtual SOCKET socket(int family, int type, int protocol) = 0;
    virtual int closesocket(SOCKET socket) = 0;
    virtual int ioctlsocket(SOCKET socket, long command, u_long* argument) = 0;
    virtual int setsockopt(SOCKET socket, int level, int name, const char* value, int length) = 0;
    virtual int getsockopt(SOCKET socket, int level, int name, char* value, int* length) = 0;
    virtual int connect(SOCKET socket, const sockaddr* address, int length) = 0;
    virtual int bind(SOCKET socket, const sockaddr* address, int length) = 0;
    virtual int listen(SOCKET socket, int backlog) = 0;
    virtual SOCKET accept(SOCKET socket, sockaddr* address, int* length) = 0;
    virtual int getsockname(SOCKET socket, sockaddr* address, int* length) = 0;
    virtual int getpeername(SOCKET socket, sockaddr* address, int* length) = 0;
    virtual int send(SOCKET socket, const char* buffer, int length, int flags) = 0;
    virtual int recv(SOCKET socket, char* buffer, int length, int flags) = 0;
    virtual int shutdown(SOCKET socket, int how) = 0;
    // One socket at a time: readable, writable or failed within the time.
    virtual int select(int count, fd_set* readable, fd_set* writable, fd_set* failed, const timeval* timeout) = 0;
    virtual int WSAGetLastError() = 0;
};

// The socket calls in force: the real ones unless a test installed others.
SocketPlatform& sockets();
// Tests only; nullptr restores the real calls. Returns the one in force.
SocketPlatform* install_sockets(SocketPlatform* replacement);
SocketPlatform& real_sockets();

}  // namespace corvane::net
