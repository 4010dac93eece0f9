#include "tools/aspdev/request_head.h"

#include "tools/asp_host/page_state.h"

#include "frame/text.h"

#include <algorithm>
#include <charconv>

namespace corvane::aspdev {

namespace {

bool is_token_character(char c)
{
    static constexpr std::string_view separators = "()<>@,;:\\\"/[]?={} \t";
    return c > 32 && c < 127 && separators.find(c) == std::string_view::npos;
}

bool is_token(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), is_token_character);
}

bool same_text(std::string_view left, std::string_view right)
{
    return left.size() == right.size() && std::equal(left.begin(), left.end(), right.begin(), [](char a, char b) {
               return (a >= 'A' && a <= 'Z' ? a + 32 : a) == (b >= 'A' && b <= 'Z' ? b + 32 : b);
           });
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

Refusal bad_request(std::string detail)
{
    return {400, "Bad Request", std::move(detail)};
}

// The path as names the server may look up: decoded, UTF-8, and free of
// anything Windows would read as more than a name.
std::variant<std::wstring, Refusal> checked_path(std::string_view raw)
{
    const std::optional<std::string> bytes = percent_decode(raw);
    if (!bytes)
        return bad_request("The path has a malformed %-escape.");
    const std::optional<std::wstring> path = from_utf8_exact(*bytes);
    if (!path)
        return bad_request("The path is not UTF-8.");
    for (const wchar_t c : *path) {
        if (c < 32 || c == 127)
            return bad_request("The path holds a control character.");
        if (c == L'\\' || c == L':')
            return bad_request("The path holds a backslash or a colon.");
    }
    size_t start = 1;
    while (start <= path->size()) {
        const size_t end = std::min(path->find(L'/', start), path->size());
        const std::wstring_view segment = std::wstring_view(*path).substr(start, end - start);
        if (segment == L"." || segment == L"..")
            return bad_request("The path holds a \".\" or \"..\" segment.");
        if (!segment.empty() && (segment.back() == L'.' || segment.back() == L' '))
            return bad_request("A name in the path ends in a dot or a space.");
        start = end + 1;
    }
    return *path;
}

}  // namespace

const std::string* RequestHead::header(std::string_view name) const
{
    for (const auto& [key, value] : headers) {
        if (same_text(key, name))
            return &value;
    }
    return nullptr;
}

std::optional<std::string> percent_decode(std::string_view text)
{
    std::string bytes;
    bytes.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            bytes += text[i];
            continue;
        }
        if (i + 2 >= text.size() || asp_host::hex_digit(text[i + 1]) < 0 || asp_host::hex_digit(text[i + 2]) < 0)
            return std::nullopt;
        bytes += static_cast<char>(asp_host::hex_digit(text[i + 1]) * 16 + asp_host::hex_digit(text[i + 2]));
        i += 2;
    }
    return bytes;
}

std::variant<RequestHead, Refusal> parse_request_head(std::string_view head)
{
    if (head.size() > max_head_bytes)
        return Refusal{431, "Request Header Fields Too Large", "The header block is over 64 KB."};
    std::vector<std::string_view> lines;
    while (!head.empty()) {
        const size_t end = head.find('\n');
        std::string_view line = head.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        head = end == std::string_view::npos ? std::string_view() : head.substr(end + 1);
    }
    if (lines.empty())
        return bad_request("The request is empty.");

    RequestHead request;
    const std::string_view request_line = lines.front();
    const size_t first_space = request_line.find(' ');
    const size_t last_space = request_line.rfind(' ');
    if (first_space == std::string_view::npos || first_space == last_space)
        return bad_request("The request line is not \"METHOD target HTTP/1.x\".");
    const std::string_view method = request_line.substr(0, first_space);
    const std::string_view target = request_line.substr(first_space + 1, last_space - first_space - 1);
    const std::string_view version = request_line.substr(last_space + 1);
    if (!is_token(method))
        return bad_request("The method is not a token.");
    if (version.size() != 8 || version.substr(0, 5) != "HTTP/" || version[6] != '.' || version[5] < '0' ||
        version[5] > '9' || version[7] < '0' || version[7] > '9')
        return bad_request("The protocol is not HTTP/x.y.");
    if (version != "HTTP/1.0" && version != "HTTP/1.1")
        return Refusal{505, "HTTP Version Not Supported", "Only HTTP/1.0 and HTTP/1.1 are served."};
    if (method != "GET" && method != "HEAD" && method != "POST")
        return Refusal{405, "Method Not Allowed", "Only GET, HEAD and POST are served."};
    request.method = method;
    if (target.empty() || target.front() != '/' || target.find_first_of(" \t#") != std::string_view::npos)
        return bad_request("The target is not an absolute path.");
    const size_t question = target.find('?');
    auto path = checked_path(target.substr(0, question));
    if (auto* refusal = std::get_if<Refusal>(&path))
        return *refusal;
    request.path = std::get<std::wstring>(std::move(path));
    if (question != std::string_view::npos) {
        request.query = target.substr(question + 1);
        if (!percent_decode(request.query))
            return bad_request("The query has a malformed %-escape.");
        for (const char c : request.query) {
            if (static_cast<unsigned char>(c) < 32 || c == 127)
                return bad_request("The query holds a control character.");
        }
    }

    std::optional<size_t> length;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (line.empty())
            continue;
        if (line.front() == ' ' || line.front() == '\t')
            return bad_request("A header line is folded.");
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || !is_token(line.substr(0, colon)))
            return bad_request("A header line is not \"Name: value\".");
        const std::string_view value = trimmed(line.substr(colon + 1));
        for (const char c : value) {
            if ((static_cast<unsigned char>(c) < 32 && c != '\t') || c == 127)
                return bad_request("A header value holds a control character.");
        }
        const std::string_view name = line.substr(0, colon);
        if (same_text(name, "Transfer-Encoding"))
            return Refusal{501, "Not Implemented", "Request bodies are taken with Content-Length only."};
        if (same_text(name, "Content-Length")) {
            // Read wide, so that a length past a 32-bit size is too large
            // rather than malformed.
            unsigned long long number = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
            if (error == std::errc::result_out_of_range || (error == std::errc() && number > max_body_bytes))
                return Refusal{413, "Content Too Large", "The request body is over 8 MB."};
            if (value.empty() || error != std::errc() || end != value.data() + value.size() ||
                (length && *length != number))
                return bad_request("The Content-Length is not one number.");
            length = static_cast<size_t>(number);
        }
        request.headers.emplace_back(name, value);
    }
    if (request.method == "POST" && !length)
        return Refusal{411, "Length Required", "A POST needs a Content-Length."};
    request.content_length = length.value_or(0);
    return request;
}

}  // namespace corvane::aspdev
