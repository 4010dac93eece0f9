#pragma once
// The browser page's links and text while names travel in UTF-8. The host's
// own URL encoding and query decoding go through the page's code page, which
// cannot hold a Greek name in a Western page; these do not depend on it.

#include <optional>
#include <string>
#include <string_view>

namespace corvane::web {

// A query value: A-Z, a-z and 0-9 as they are, every other byte of the
// name's UTF-8 as %XX. The bytes of an ill-formed name (see
// from_utf8_escaped) go as they were, so that the link comes back refused
// rather than naming another file.
std::wstring utf8_url_encode(std::wstring_view text);

// The value of `key` in a raw query string, %XX and "+" decoded and the
// bytes read as UTF-8; several values are joined with ", " as the host
// does. Empty when the key is absent; nothing when a value is not
// well-formed UTF-8.
std::optional<std::wstring> utf8_query_item(std::wstring_view query, std::wstring_view key);

// Text for an element or attribute: markup characters escaped, and every
// non-ASCII character as a numeric reference, which the page's code page
// cannot spoil; an unpaired surrogate shows as U+FFFD.
std::wstring html_text_references(std::wstring_view text);

}  // namespace corvane::web
