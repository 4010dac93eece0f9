#include "transfer/single_file.h"

#include "frame/error.h"
#include "frame/error_text.h"
#include "frame/platform.h"
#include "frame/text.h"
#include "ftp/ftp_errors.h"
#include "transfer/local_names.h"

namespace corvane::transfer {

ftp::WireText download_name(std::wstring_view text)
{
    return ftp::WireText(text, ftp::errors::get_file);
}

ftp::WireText upload_name(std::wstring_view text)
{
    return ftp::WireText(text, ftp::errors::put_file);
}

void download(ftp::Session& session, const ftp::WireText& remote_path, const std::wstring& local_path,
              VARIANT_BOOL overwrite)
{
    // Anything but a true overwrite (-1) keeps an existing local file.
    const BOOL fail_if_exists = static_cast<WORD>(~static_cast<WORD>(overwrite));
    const PlatformStep step;
    if (!platform().FtpGetFileA(session.connection(), remote_path.ansi(), to_ansi(local_path).c_str(),
                                fail_if_exists, FILE_ATTRIBUTE_NORMAL,
                                session.transfer_flags() | INTERNET_FLAG_NO_CACHE_WRITE, 0))
        raise_platform_failure(ftp::errors::get_file, L"GetFile");
}

void store(ftp::Session& session, const std::wstring& local_path, const ftp::WireText& remote_name)
{
    const PlatformStep step;
    if (!platform().FtpPutFileA(session.connection(), to_ansi(local_path).c_str(), remote_name.ansi(),
                                session.transfer_flags(), 0))
        raise_platform_failure(ftp::errors::put_file, L"PutFile");
}

void upload(ftp::Session& session, const std::wstring& local_path, const ftp::WireText& remote_path)
{
    const std::wstring saved_directory = session.current_directory();
    const std::wstring& path = remote_path.text();
    const size_t slash = path.rfind(L'/');
    if (slash != std::wstring::npos)
        session.change_directory(upload_name(path.substr(0, slash + 1)));
    store(session, local_path, slash == std::wstring::npos ? remote_path : upload_name(path.substr(slash + 1)));
    session.change_directory(upload_name(saved_directory));
}

void get_file(ftp::Session& session, std::wstring_view remote_path, const std::wstring& local_path,
              VARIANT_BOOL overwrite)
{
    const ftp::WireText remote = download_name(remote_path);
    check_local_path(local_path, ftp::errors::get_file);
    download(session, remote, local_path, overwrite);
}

void put_file(ftp::Session& session, const std::wstring& local_path, std::wstring_view remote_path)
{
    check_local_path(local_path, ftp::errors::put_file);
    upload(session, local_path, upload_name(remote_path));
}

}  // namespace corvane::transfer
