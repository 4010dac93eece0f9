#pragma once
// Where a request goes, and where a redirect sends the next one.

#include <optional>
#include <string>
#include <string_view>

namespace corvane::http {

struct Target {
    bool secure = false;
    // As written: the host, and a port when one follows it.
    std::wstring server_name;
    // Path and query, as sent.
    std::wstring path;

    std::wstring url() const;
};

// The target a Location header names, read against the URL that answered:
// absolute, scheme-relative, absolute-path, query-only or relative. Nothing
// for a Location that names no http or https resource.
std::optional<Target> resolve_location(const Target& current, std::wstring_view location);

}  // namespace corvane::http
