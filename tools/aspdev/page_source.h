#pragma once
// An ASP page as one VBScript program: server-side includes expanded,
// literal text turned into numbered blocks the script writes with
// Response.WriteBlock, `<%= %>` into Response.Write, and every script line
// traced back to the file and line it came from.

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace corvane::aspdev {

struct SourceLine {
    std::wstring file;  // the site address, "/inc/header.inc"
    int line = 1;
};

struct PageScript {
    std::wstring script;
    std::vector<SourceLine> lines;  // one per line of `script`
    std::vector<std::wstring> blocks;
};

struct PageError {
    SourceLine where;
    std::wstring message;
};

// The text of the file at a site address, nothing when there is none. The
// reader is trusted to refuse addresses outside the site.
using ReadSiteFile = std::function<std::optional<std::wstring>(const std::wstring& address)>;

constexpr int max_include_depth = 16;

std::variant<PageScript, PageError> translate_page(const std::wstring& address, const ReadSiteFile& read);

// An include's site address, from the including file's address; nothing
// when it would climb above the site's root.
std::optional<std::wstring> include_address(const std::wstring& including, const std::wstring& target,
                                            bool is_virtual);

}  // namespace corvane::aspdev
