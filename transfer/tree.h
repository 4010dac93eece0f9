#pragma once
// Whole directory trees between the server and the local disk.

#include "ftp/session.h"

#include <string>
#include <string_view>

namespace corvane::transfer {

// Copies the remote directory's files, and its subdirectories when
// `traverse_sub_directories` is not VARIANT_FALSE, into the local folder,
// made when missing. Every listed name is checked before the first file of
// its directory is written. The current directory is the same afterwards,
// also after a failure.
void get_directory(ftp::Session& session, std::wstring_view remote_path, const std::wstring& local_path,
                   VARIANT_BOOL overwrite, VARIANT_BOOL traverse_sub_directories);

// The local folder's files, and its subfolders when asked, into the remote
// directory.
void put_directory(ftp::Session& session, const std::wstring& local_path, std::wstring_view remote_path,
                   VARIANT_BOOL traverse_sub_directories);

}  // namespace corvane::transfer
