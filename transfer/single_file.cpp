#include "transfer/single_file.h"

#include "frame/error.h"
#include "frame/error_text.h"
#include "frame/platform.h"
#include "frame/text.h"
#include "ftp/ftp_errors.h"
#include "transfer/local_names.h"

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
    const BOOL fail_if_exists = static_cast<WORD>(~static_cast<WORD>(overwrite));
    ftp::ServerWait wait(session, ftp::errors::get_file);
    const BOOL done = platform().FtpGetFileA(session.connection(), remote_path.ansi(), to_ansi(local_path).c_str(),
                                             fail_if_exists, FILE_ATTRIBUTE_NORMAL,
                                             session.transfer_flags() | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    wait.finish();
    if (!done)
        raise_platform_failure(ftp::errors::get_file, L"GetFile");
    // The platform moves the file in one call and tells no count: a
    // failure adds nothing, a success the file's size.
    session.add_bytes_transferred(local_file_size(local_path).value_or(0));
}

void store(ftp::Session& session, const std::wstring& local_path, const ftp::WireText& remote_name)
{
    ftp::ServerWait wait(session, ftp::errors::put_file);
    const BOOL done = platform().FtpPutFileA(session.connection(), to_ansi(local_path).c_str(), remote_name.ansi(),
                                             session.transfer_flags(), 0);
    wait.finish();
    if (!done)
        raise_platform_failure(ftp::errors::put_file, L"PutFile");
    session.add_bytes_transferred(local_file_size(local_path).value_or(0));
}

void upload(ftp::Session& session, const std::wstring& local_path, const ftp::WireText& remote_path)
{
    const std::wstring saved_directory = session.current_directory();
    const std::wstring& path = remote_path.text();
    const size_t slash = path.rfind(L'/');
    if (slash != std::wstring::npos)
        session.change_directory(upload_name(session, path.substr(0, slash + 1)));
    store(session, local_path, slash == std::wstring::npos ? remote_path : upload_name(session, path.substr(slash + 1)));
    session.change_directory(upload_name(session, saved_directory));
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
