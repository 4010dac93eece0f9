#pragma once
// The texts that set up a data connection: the address a server names in
// its EPSV or PASV reply, the one we name in EPRT or PORT, and the size a
// transfer's opening reply announces. What a server sends is parsed
// strictly: a number out of range is no number, not a wrapped one.

#include "net/endpoint.h"

#include <optional>
#include <string>
#include <string_view>

namespace corvane::ftpproto {

// "229 Entering Extended Passive Mode (|||6446|)": the port.
std::optional<unsigned short> parse_epsv_port(std::string_view reply_text);
// "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)", the six numbers
// wherever they stand after the code: the address and port.
std::optional<net::Endpoint> parse_pasv_endpoint(std::string_view reply_text);

// EPRT's argument: "|1|127.0.0.1|6446|" or "|2|::1|6446|".
std::string eprt_argument(const net::Endpoint& endpoint);
// PORT's argument "h1,h2,h3,h4,p1,p2"; none for an IPv6 endpoint.
std::optional<std::string> port_argument(const net::Endpoint& endpoint);

// "150 Opening BINARY mode data connection for f (1234 bytes)": 1234.
std::optional<unsigned long long> parse_announced_size(std::string_view reply_text);

}  // namespace corvane::ftpproto
