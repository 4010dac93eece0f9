#pragma once
// Small text rules shared by the settings and the request.

#include <string_view>

namespace corvane::http {

// An HTTP token (a method, a header name): letters, digits and !#$%&'*+-.^_`|~.
bool is_token(std::wstring_view text);

// ASCII letters compared without case; header names and charsets are ASCII.
bool equal_ignoring_case(std::wstring_view left, std::wstring_view right);

}  // namespace corvane::http
