#pragma once
// An IPv4 or IPv6 address with a port.

#include "frame/win32.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

namespace corvane::net {

struct Endpoint {
    sockaddr_storage address{};
    int length = 0;

    bool is_ipv6() const { return address.ss_family == AF_INET6; }
    unsigned short port() const;
    // The same endpoint with another port.
    Endpoint with_port(unsigned short port) const;
    // The address alone as text: "127.0.0.1", "::1".
    std::string address_text() const;
    // Whether both name the same address, ports aside; an IPv4-mapped IPv6
    // address is the IPv4 address it maps.
    bool same_address(const Endpoint& other) const;

    // a.b.c.d:port, as a PASV reply names it.
    static Endpoint ipv4(const unsigned char (&bytes)[4], unsigned short port);
};

}  // namespace corvane::net
