#pragma once
// A transfer that continues where an earlier one stopped, from the length
// of what the receiving side holds already. Always binary: after an ASCII
// transfer the two sides' lengths are not offsets into the same bytes.

#include "ftp/session.h"

#include <string>
#include <string_view>

namespace corvane::transfer {

// Appends the rest of the remote file to the local one; nothing in the
// local file is ever cut. Afterwards the local file is exactly as long as
// the server said the remote one was, or an error says why not.
void resume_file(ftp::Session& session, std::wstring_view remote_path, const std::wstring& local_path);
// Sends the rest of the local file after what the server holds (nothing
// when it has no such file); afterwards the server's size must be the
// local one.
void resume_put_file(ftp::Session& session, const std::wstring& local_path, std::wstring_view remote_path);

}  // namespace corvane::transfer
