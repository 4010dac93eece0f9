#include "ftpproto/data_replies.h"

#include <string>

namespace corvane::ftpproto {

namespace {

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// Digits at `at`, at most `most` of them and no more following, as a
// number no greater than `limit`; `at` moves past them.
std::optional<unsigned long long> number_at(std::string_view text, size_t& at, size_t most,
                                            unsigned long long limit)
{
    size_t end = at;
    unsigned long long value = 0;
    while (end < text.size() && is_digit(text[end])) {
        if (end - at == most)
            return std::nullopt;
        value = value * 10 + static_cast<unsigned long long>(text[end] - '0');
        ++end;
    }
    if (end == at || value > limit)
        return std::nullopt;
    at = end;
    return value;
}

// The text after "229 ", "227 ": a server's words may hold digits too.
std::string_view after_code(std::string_view reply_text)
{
    return reply_text.size() > 4 ? reply_text.substr(4) : std::string_view();
}

std::optional<unsigned short> epsv_port_at(std::string_view text, size_t at)
{
    // "(|||port|)" with any printable delimiter that is no digit.
    if (at + 4 > text.size())
        return std::nullopt;
    const char delimiter = text[at + 1];
    if (delimiter < '!' || delimiter > '~' || is_digit(delimiter) || text[at + 2] != delimiter ||
        text[at + 3] != delimiter)
        return std::nullopt;
    at += 4;
    const auto port = number_at(text, at, 5, 65535);
    if (!port || *port == 0 || at + 2 > text.size() || text[at] != delimiter || text[at + 1] != ')')
        return std::nullopt;
    return static_cast<unsigned short>(*port);
}

std::optional<net::Endpoint> pasv_endpoint_at(std::string_view text, size_t at)
{
    unsigned long long numbers[6];
    for (size_t i = 0; i < 6; ++i) {
        if (i > 0 && (at >= text.size() || text[at++] != ','))
            return std::nullopt;
        const auto number = number_at(text, at, 3, 255);
        if (!number)
            return std::nullopt;
        numbers[i] = *number;
    }
    const auto port = static_cast<unsigned short>(numbers[4] * 256 + numbers[5]);
    if (port == 0)
        return std::nullopt;
    const unsigned char address[4] = {static_cast<unsigned char>(numbers[0]), static_cast<unsigned char>(numbers[1]),
                                      static_cast<unsigned char>(numbers[2]), static_cast<unsigned char>(numbers[3])};
    return net::Endpoint::ipv4(address, port);
}

}  // namespace

std::optional<unsigned short> parse_epsv_port(std::string_view reply_text)
{
    const std::string_view text = after_code(reply_text);
    for (size_t at = text.find('('); at != std::string_view::npos; at = text.find('(', at + 1))
        if (const auto port = epsv_port_at(text, at))
            return port;
    return std::nullopt;
}

std::optional<net::Endpoint> parse_pasv_endpoint(std::string_view reply_text)
{
    const std::string_view text = after_code(reply_text);
    for (size_t at = 0; at < text.size(); ++at)
        if (is_digit(text[at]) && (at == 0 || !is_digit(text[at - 1])))
            if (const auto endpoint = pasv_endpoint_at(text, at))
                return endpoint;
    return std::nullopt;
}

std::string eprt_argument(const net::Endpoint& endpoint)
{
    return std::string(endpoint.is_ipv6() ? "|2|" : "|1|") + endpoint.address_text() + "|" +
           std::to_string(endpoint.port()) + "|";
}

std::optional<std::string> port_argument(const net::Endpoint& endpoint)
{
    if (endpoint.address.ss_family != AF_INET)
        return std::nullopt;
    std::string text = endpoint.address_text();
    for (char& c : text)
        if (c == '.')
            c = ',';
    return text + "," + std::to_string(endpoint.port() / 256) + "," + std::to_string(endpoint.port() % 256);
}

std::optional<unsigned long long> parse_announced_size(std::string_view reply_text)
{
    static constexpr std::string_view unit = " bytes)";
    const std::string_view text = after_code(reply_text);
    for (size_t at = text.find('('); at != std::string_view::npos; at = text.find('(', at + 1)) {
        size_t end = at + 1;
        // 19 digits always fit in 64 bits.
        const auto size = number_at(text, end, 19, ~0ULL);
        if (size && text.substr(end, unit.size()) == unit)
            return size;
    }
    return std::nullopt;
}

}  // namespace corvane::ftpproto
