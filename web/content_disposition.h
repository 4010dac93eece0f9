#pragma once

#include <string>
#include <string_view>

namespace corvane::web {

// The Content-Disposition value that offers a remote file under the name
// after its last "/". Control characters are taken out, so that the name
// cannot end the header line and start another; a name of anything but
// token characters goes in quotes, so that ";" or a quote cannot end it and
// add a parameter; non-ASCII text goes in an RFC 5987 extended value as
// well, with "_" standing for it in the quotes. A name that is empty after
// all this is "download".
std::wstring content_disposition(std::wstring_view remote_path);

}  // namespace corvane::web
