#pragma once
// TCP connections and the listening socket of an active-mode data
// connection, over sockets(). Sockets are non-blocking throughout: every
// wait is a select() bounded by the caller's time-out.

#include "net/stream.h"

#include <memory>
#include <string>

namespace corvane::net {

// Owns one socket; closesocket through the seam.
class Socket {
public:
    Socket() = default;
    explicit Socket(SOCKET socket) : socket_(socket) {}
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    ~Socket();
    SOCKET get() const { return socket_; }
    explicit operator bool() const { return socket_ != INVALID_SOCKET; }

private:
    SOCKET socket_ = INVALID_SOCKET;
};

class TcpStream final : public Stream {
public:
    // Resolves `host` (raises codes::name_not_resolved) and connects to the
    // first address that answers in time (codes::cannot_connect, or
    // codes::timed_out when none answered).
    static std::unique_ptr<TcpStream> connect(const std::string& host, unsigned short port,
                                              DWORD timeout_milliseconds);
    static std::unique_ptr<TcpStream> connect(const Endpoint& endpoint, DWORD timeout_milliseconds);
    // A connected socket, from accept().
    TcpStream(Socket socket, Endpoint local, Endpoint peer);

    void send(std::span<const char> bytes, DWORD timeout_milliseconds) override;
    size_t receive(std::span<char> buffer, DWORD timeout_milliseconds) override;
    void end_sending(DWORD timeout_milliseconds) override;
    const Endpoint& local() const override { return local_; }
    const Endpoint& peer() const override { return peer_; }

private:
    Socket socket_;
    Endpoint local_;
    Endpoint peer_;
};

// A socket listening on one local address for one connection.
class Listener {
public:
    // On `address` (its port ignored) at a port the system chooses.
    explicit Listener(const Endpoint& address);
    const Endpoint& endpoint() const { return endpoint_; }
    // The first connection from `expected_peer`'s address; connections from
    // any other address are closed unread (nobody else may feed a
    // download or read an upload). Raises codes::timed_out.
    std::unique_ptr<TcpStream> accept(const Endpoint& expected_peer, DWORD timeout_milliseconds);

private:
    Socket socket_;
    Endpoint endpoint_;
};

}  // namespace corvane::net
