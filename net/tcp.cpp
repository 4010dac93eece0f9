#include "net/tcp.h"

#include "net/failure.h"
#include "net/sockets.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <utility>

namespace corvane::net {

namespace {

enum class Ready { to_read, to_write };

// One select() on one socket; false when the time ran out first. For a
// connect in progress the failed set is what reports a refusal.
bool wait_until(SOCKET socket, Ready what, DWORD timeout_milliseconds, LONG code_on_fault)
{
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(socket, &ready);
    FD_SET(socket, &failed);
    const timeval timeout{static_cast<long>(timeout_milliseconds / 1000),
                          static_cast<long>(timeout_milliseconds % 1000 * 1000)};
    const int count = sockets().select(0, what == Ready::to_read ? &ready : nullptr,
                                       what == Ready::to_write ? &ready : nullptr, &failed, &timeout);
    if (count == SOCKET_ERROR)
        throw Failure(code_on_fault);
    return count > 0;
}

Failure transport_failure(int error)
{
    return Failure(error == WSAECONNRESET ? codes::connection_reset : codes::connection_ended);
}

void make_non_blocking(const Socket& socket, LONG code_on_fault)
{
    u_long non_blocking = 1;
    if (sockets().ioctlsocket(socket.get(), FIONBIO, &non_blocking) == SOCKET_ERROR)
        throw Failure(code_on_fault);
}

Endpoint local_endpoint(const Socket& socket, LONG code_on_fault)
{
    Endpoint local;
    local.length = sizeof local.address;
    if (sockets().getsockname(socket.get(), reinterpret_cast<sockaddr*>(&local.address), &local.length) ==
        SOCKET_ERROR)
        throw Failure(code_on_fault);
    return local;
}

struct AddressListFree {
    void operator()(PADDRINFOA list) const { sockets().freeaddrinfo(list); }
};

int clamp_length(size_t length)
{
    return static_cast<int>(std::min<size_t>(length, INT_MAX));
}

}  // namespace

Socket::Socket(Socket&& other) noexcept : socket_(std::exchange(other.socket_, INVALID_SOCKET)) {}

Socket& Socket::operator=(Socket&& other) noexcept
{
    Socket old(std::exchange(socket_, std::exchange(other.socket_, INVALID_SOCKET)));
    return *this;
}

Socket::~Socket()
{
    if (socket_ != INVALID_SOCKET)
        sockets().closesocket(socket_);
}

TcpStream::TcpStream(Socket socket, Endpoint local, Endpoint peer)
    : socket_(std::move(socket)), local_(std::move(local)), peer_(std::move(peer))
{
}

std::unique_ptr<TcpStream> TcpStream::connect(const std::string& host, unsigned short port,
                                              DWORD timeout_milliseconds)
{
    ADDRINFOA hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    PADDRINFOA found = nullptr;
    if (sockets().getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
        throw Failure(codes::name_not_resolved);
    const std::unique_ptr<ADDRINFOA, AddressListFree> addresses(found);

    // Only when every address stayed silent is it a time-out; one that
    // refused answered.
    bool any_answered = false;
    for (const ADDRINFOA* address = found; address; address = address->ai_next) {
        if (!address->ai_addr || address->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        Endpoint endpoint;
        std::memcpy(&endpoint.address, address->ai_addr, address->ai_addrlen);
        endpoint.length = static_cast<int>(address->ai_addrlen);
        try {
            return connect(endpoint, timeout_milliseconds);
        } catch (const Failure& failure) {
            any_answered = any_answered || failure.code() != codes::timed_out;
        }
    }
    throw Failure(any_answered ? codes::cannot_connect : codes::timed_out);
}

std::unique_ptr<TcpStream> TcpStream::connect(const Endpoint& endpoint, DWORD timeout_milliseconds)
{
    Socket socket(sockets().socket(endpoint.address.ss_family, SOCK_STREAM, IPPROTO_TCP));
    if (!socket)
        throw Failure(codes::cannot_connect);
    make_non_blocking(socket, codes::cannot_connect);
    // Commands are small and each waits for its reply: no coalescing delay.
    // Only speed depends on it, so a refusal is no failure.
    const BOOL no_delay = TRUE;
    sockets().setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay),
                         sizeof no_delay);

    if (sockets().connect(socket.get(), reinterpret_cast<const sockaddr*>(&endpoint.address), endpoint.length) ==
        SOCKET_ERROR) {
        if (sockets().WSAGetLastError() != WSAEWOULDBLOCK)
            throw Failure(codes::cannot_connect);
        if (!wait_until(socket.get(), Ready::to_write, timeout_milliseconds, codes::cannot_connect))
            throw Failure(codes::timed_out);
        int error = 0;
        int length = sizeof error;
        if (sockets().getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) ==
                SOCKET_ERROR ||
            error != 0)
            throw Failure(codes::cannot_connect);
    }
    Endpoint local = local_endpoint(socket, codes::cannot_connect);
    return std::make_unique<TcpStream>(std::move(socket), std::move(local), endpoint);
}

void TcpStream::send(std::span<const char> bytes, DWORD timeout_milliseconds)
{
    while (!bytes.empty()) {
        const int sent = sockets().send(socket_.get(), bytes.data(), clamp_length(bytes.size()), 0);
        if (sent != SOCKET_ERROR) {
            bytes = bytes.subspan(static_cast<size_t>(sent));
            continue;
        }
        const int error = sockets().WSAGetLastError();
        if (error != WSAEWOULDBLOCK)
            throw transport_failure(error);
        if (!wait_until(socket_.get(), Ready::to_write, timeout_milliseconds, codes::connection_ended))
            throw Failure(codes::timed_out);
    }
}

size_t TcpStream::receive(std::span<char> buffer, DWORD timeout_milliseconds)
{
    // An empty buffer would read as the end of the stream.
    if (buffer.empty())
        throw Failure(codes::connection_ended);
    for (;;) {
        const int received = sockets().recv(socket_.get(), buffer.data(), clamp_length(buffer.size()), 0);
        if (received != SOCKET_ERROR)
            return static_cast<size_t>(received);
        const int error = sockets().WSAGetLastError();
        if (error != WSAEWOULDBLOCK)
            throw transport_failure(error);
        if (!wait_until(socket_.get(), Ready::to_read, timeout_milliseconds, codes::connection_ended))
            throw Failure(codes::timed_out);
    }
}

void TcpStream::end_sending(DWORD)
{
    // Non-blocking: the system sends what is queued, then the end.
    if (sockets().shutdown(socket_.get(), SD_SEND) == SOCKET_ERROR)
        throw transport_failure(sockets().WSAGetLastError());
}

Listener::Listener(const Endpoint& address)
    : socket_(sockets().socket(address.address.ss_family, SOCK_STREAM, IPPROTO_TCP))
{
    if (!socket_)
        throw Failure(codes::cannot_connect);
    make_non_blocking(socket_, codes::cannot_connect);
    const Endpoint any_port = address.with_port(0);
    if (sockets().bind(socket_.get(), reinterpret_cast<const sockaddr*>(&any_port.address), any_port.length) ==
            SOCKET_ERROR ||
        sockets().listen(socket_.get(), 1) == SOCKET_ERROR)
        throw Failure(codes::cannot_connect);
    endpoint_ = local_endpoint(socket_, codes::cannot_connect);
}

std::unique_ptr<TcpStream> Listener::accept(const Endpoint& expected_peer, DWORD timeout_milliseconds)
{
    // One time-out for the whole wait: a stranger's connections, closed,
    // must not stretch it.
    const ULONGLONG deadline = GetTickCount64() + timeout_milliseconds;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const auto remaining = static_cast<DWORD>(deadline > now ? deadline - now : 0);
        if (!wait_until(socket_.get(), Ready::to_read, remaining, codes::cannot_connect))
            throw Failure(codes::timed_out);
        Endpoint peer;
        peer.length = sizeof peer.address;
        Socket accepted(sockets().accept(socket_.get(), reinterpret_cast<sockaddr*>(&peer.address), &peer.length));
        if (!accepted) {
            // Gone between select and accept: wait on.
            const int error = sockets().WSAGetLastError();
            if (error == WSAEWOULDBLOCK || error == WSAECONNRESET)
                continue;
            throw Failure(codes::cannot_connect);
        }
        if (!peer.same_address(expected_peer))
            continue;
        // Inherits the listener's non-blocking mode.
        Endpoint local = local_endpoint(accepted, codes::cannot_connect);
        return std::make_unique<TcpStream>(std::move(accepted), std::move(local), std::move(peer));
    }
}

}  // namespace corvane::net
