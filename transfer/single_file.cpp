#include "transfer/single_file.h"

#include "frame/error.h"
#include "frame/error_text.h"
#include "ftp/ftp_errors.h"
#include "transfer/chunked.h"
#include "transfer/local_names.h"
#include "wininet/wininet.h"

#include <climits>

namespace corvane::transfer {

ftp::WireText download_name(const ftp::Session& session, std::wstring_view text)
{
    return session.wire(text, ftp::errors::get_file);
}

ftp::WireText upload_name(const ftp::Session& session, std::wstring_view text)
{
    return session.wire(text, ftp::errors::put_file);
}

void download(ftp::Session& session, const ftp::WireText& remote_path, const std::wstring& local_path,
              VARIANT_BOOL overwrite)
{
    // Anything but a true overwrite (-1) keeps an existing local file.
    NewLocalFile local(local_path, overwrite == VARIANT_TRUE, ftp::errors::get_file, L"GetFile");
    const auto file = session.open_file(remote_path, ftp::Direction::download,
                                        session.transfer_flags() | INTERNET_FLAG_NO_CACHE_WRITE, 0,
                                        ftp::errors::get_file, L"GetFile");
    local.start(ftp::errors::get_file);
    receive(session, *file, local.file(), ftp::errors::get_file, ftp::errors::get_file, ULLONG_MAX);
    file->finish(ftp::errors::get_file, L"GetFile");
    local.keep(ftp::errors::get_file);
}

void store(ftp::Session& session, const std::wstring& local_path, const ftp::WireText& remote_name)
{
    const FileHandle local = open_local(local_path, GENERIC_READ, OPEN_EXISTING, ftp::errors::put_file, L"PutFile");
    const auto file = session.open_file(remote_name, ftp::Direction::upload, session.transfer_flags(), 0,
                                        ftp::errors::put_file, L"PutFile");
    send(session, local, *file, ftp::errors::put_file);
    file->finish(ftp::errors::put_file, L"PutFile");
}

void upload(ftp::Session& session, const std::wstring& local_path, const ftp::WireText& remote_path)
{
    const std::wstring& path = remote_path.text();
    const size_t slash = path.rfind(L'/');
    returning_to(session, session.current_directory(), upload_name, [&] {
        if (slash != std::wstring::npos)
            session.change_directory(upload_name(session, path.substr(0, slash + 1)));
        store(session, local_path,
              slash == std::wstring::npos ? remote_path : upload_name(session, path.substr(slash + 1)));
    });
}

void get_file(ftp::Session& session, std::wstring_view remote_path, const std::wstring& local_path,
              VARIANT_BOOL overwrite)
{
    const ftp::WireText remote = download_name(session, remote_path);
    check_local_path(local_path, ftp::errors::get_file);
    session.set_bytes_transferred(0);
    download(session, remote, local_path, overwrite);
}

void put_file(ftp::Session& session, const std::wstring& local_path, std::wstring_view remote_path)
{
    check_local_path(local_path, ftp::errors::put_file);
    session.set_bytes_transferred(0);
    upload(session, local_path, upload_name(session, remote_path));
}

}  // namespace corvane::transfer
