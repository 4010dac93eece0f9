#pragma once
// The request line and header block of an HTTP/1.x request, checked before
// anything acts on them.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace corvane::aspdev {

constexpr size_t max_head_bytes = 64 * 1024;
constexpr size_t max_body_bytes = 8 * 1024 * 1024;

struct RequestHead {
    std::string method;
    // The path decoded; only "/"-separated names, none of them "." or "..".
    std::wstring path;
    // The query as sent, without the "?".
    std::string query;
    std::vector<std::pair<std::string, std::string>> headers;
    size_t content_length = 0;

    // The first header of that name, any letter case.
    const std::string* header(std::string_view name) const;
};

struct Refusal {
    int status;
    std::string reason;
    // Why, for the error page.
    std::string detail;
};

// `head` is everything before the blank line that ends the header block.
std::variant<RequestHead, Refusal> parse_request_head(std::string_view head);

// %XX escapes decoded; nothing when an escape is malformed. A "+" stays.
std::optional<std::string> percent_decode(std::string_view text);

}  // namespace corvane::aspdev
