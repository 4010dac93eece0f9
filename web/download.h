#pragma once
// A remote file sent to the browser as an attachment, in place of the page.

#include "frame/asp_page.h"
#include "ftp/session.h"
#include "ftp/wire_text.h"

#include <string_view>

namespace corvane::web {

// As a script asks for it: the path is checked for the wire first.
void download_file_to_client(ftp::Session& session, const AspPage& page, std::wstring_view remote_path);

// The same with the path already checked.
void send_file(ftp::Session& session, const AspPage& page, const ftp::WireText& remote_path);

}  // namespace corvane::web
