#include "net/endpoint.h"

#include <cstdio>
#include <cstring>

namespace corvane::net {

namespace {

// Network byte order by hand: htons and its kin are Winsock's, and only the
// seam calls Winsock.
unsigned short from_network(USHORT value)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
    return static_cast<unsigned short>(bytes[0] << 8 | bytes[1]);
}

USHORT to_network(unsigned short value)
{
    USHORT result = 0;
    auto* bytes = reinterpret_cast<unsigned char*>(&result);
    bytes[0] = static_cast<unsigned char>(value >> 8);
    bytes[1] = static_cast<unsigned char>(value & 0xff);
    return result;
}

const sockaddr_in& v4(const sockaddr_storage& address)
{
    return reinterpret_cast<const sockaddr_in&>(address);
}

const sockaddr_in6& v6(const sockaddr_storage& address)
{
    return reinterpret_cast<const sockaddr_in6&>(address);
}

// ::ffff:a.b.c.d names the IPv4 address a.b.c.d on a dual-stack socket.
bool mapped_v4(const sockaddr_storage& address, unsigned char (&out)[4])
{
    static constexpr unsigned char prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (address.ss_family == AF_INET) {
        std::memcpy(out, &v4(address).sin_addr, 4);
        return true;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(&v6(address).sin6_addr);
    if (address.ss_family != AF_INET6 || std::memcmp(bytes, prefix, sizeof prefix) != 0)
        return false;
    std::memcpy(out, bytes + 12, 4);
    return true;
}

}  // namespace

unsigned short Endpoint::port() const
{
    if (address.ss_family == AF_INET)
        return from_network(v4(address).sin_port);
    if (address.ss_family == AF_INET6)
        return from_network(v6(address).sin6_port);
    return 0;
}

Endpoint Endpoint::with_port(unsigned short new_port) const
{
    Endpoint result = *this;
    if (address.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in&>(result.address).sin_port = to_network(new_port);
    else if (address.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6&>(result.address).sin6_port = to_network(new_port);
    return result;
}

std::string Endpoint::address_text() const
{
    char text[48] = {};
    if (address.ss_family == AF_INET) {
        const auto* b = reinterpret_cast<const unsigned char*>(&v4(address).sin_addr);
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    } else if (address.ss_family == AF_INET6) {
        // Uncompressed: every peer reads the full form.
        const auto* b = reinterpret_cast<const unsigned char*>(&v6(address).sin6_addr);
        int used = 0;
        for (int group = 0; group < 8; ++group)
            used += std::snprintf(text + used, sizeof text - static_cast<size_t>(used), group ? ":%x" : "%x",
                                  static_cast<unsigned>(b[2 * group] << 8 | b[2 * group + 1]));
    }
    return text;
}

bool Endpoint::same_address(const Endpoint& other) const
{
    unsigned char mine[4];
    unsigned char theirs[4];
    const bool mine_v4 = mapped_v4(address, mine);
    const bool theirs_v4 = mapped_v4(other.address, theirs);
    if (mine_v4 || theirs_v4)
        return mine_v4 && theirs_v4 && std::memcmp(mine, theirs, 4) == 0;
    return address.ss_family == AF_INET6 && other.address.ss_family == AF_INET6 &&
           std::memcmp(&v6(address).sin6_addr, &v6(other.address).sin6_addr, sizeof(IN6_ADDR)) == 0;
}

Endpoint Endpoint::ipv4(const unsigned char (&bytes)[4], unsigned short port)
{
    Endpoint result;
    auto& in = reinterpret_cast<sockaddr_in&>(result.address);
    in.sin_family = AF_INET;
    std::memcpy(&in.sin_addr, bytes, 4);
    in.sin_port = to_network(port);
    result.length = sizeof(sockaddr_in);
    return result;
}

}  // namespace corvane::net
