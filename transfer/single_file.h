#pragma once
// One file between the server and the local disk.

#include "ftp/session.h"
#include "ftp/wire_text.h"

#include <string>
#include <string_view>

namespace corvane::transfer {

// As a script asks for them: the remote path is checked for the wire, the
// local one for a NUL, before anything is sent. Only an `overwrite` of
// exactly VARIANT_TRUE replaces an existing local file.
void get_file(ftp::Session& session, std::wstring_view remote_path, const std::wstring& local_path,
              VARIANT_BOOL overwrite);
// A remote path with a "/" is stored from the directory it names; the
// current directory is the same afterwards, also after a failure.
void put_file(ftp::Session& session, const std::wstring& local_path, std::wstring_view remote_path);

// The same with the names already checked, for whole trees.
void download(ftp::Session& session, const ftp::WireText& remote_path, const std::wstring& local_path,
              VARIANT_BOOL overwrite);
void upload(ftp::Session& session, const std::wstring& local_path, const ftp::WireText& remote_path);
// Under the name given, and nothing else sent: for a tree, whose names say
// where they go and which changes back once, at its end.
void store(ftp::Session& session, const std::wstring& local_path, const ftp::WireText& remote_name);

// Remote names of a download or an upload, checked for the wire.
ftp::WireText download_name(const ftp::Session& session, std::wstring_view text);
ftp::WireText upload_name(const ftp::Session& session, std::wstring_view text);

// Runs a transfer that changes directory and changes back to `saved`
// however it ends: a script that handles the error carries on where it was.
template <class Transfer>
void returning_to(ftp::Session& session, const std::wstring& saved,
                  ftp::WireText (*checked)(const ftp::Session&, std::wstring_view), Transfer&& transfer)
{
    try {
        transfer();
    } catch (...) {
        session.return_after_failure(saved);
        throw;
    }
    session.change_directory(checked(session, saved));
}

}  // namespace corvane::transfer
