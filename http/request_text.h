#pragma once
// Small text rules shared by the settings and the request.

// Header names and charsets are compared by frame/text.h's
// equal_ignoring_case: ASCII letters only.
#include "frame/text.h"

#include <string_view>

namespace corvane::http {

// An HTTP token (a method, a header name): letters, digits and !#$%&'*+-.^_`|~.
bool is_token(std::wstring_view text);

}  // namespace corvane::http
