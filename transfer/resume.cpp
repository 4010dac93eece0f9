#include "transfer/resume.h"

#include "frame/error.h"
#include "frame/error_text.h"
#include "ftp/ftp_errors.h"
#include "transfer/chunked.h"
#include "transfer/local_names.h"
#include "transfer/single_file.h"
#include "wininet/error_text.h"
#include "wininet/wininet.h"

namespace corvane::transfer {

namespace {

std::wstring sizes_reason(unsigned long long local, unsigned long long remote)
{
    return L"The local file has " + std::to_wstring(local) + L" bytes, the remote one " + std::to_wstring(remote) +
           L" bytes.";
}

unsigned long long size_of(const FileHandle& file, const ErrorCode& error)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size))
        raise_platform_error(error, static_cast<LONG>(::GetLastError()), L"GetFileSize");
    return static_cast<unsigned long long>(size.QuadPart);
}

constexpr DWORD resume_flags = FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_NO_CACHE_WRITE;

}  // namespace

void resume_file(ftp::Session& session, std::wstring_view remote_path, const std::wstring& local_path)
{
    const ftp::WireText remote = download_name(session, remote_path);
    check_local_path(local_path, ftp::errors::get_file);
    session.set_bytes_transferred(0);
    const unsigned long long remote_size = session.remote_file_size(remote);

    // Opened to append, never to truncate; a missing file starts at 0.
    FileHandle local = open_local(local_path, FILE_APPEND_DATA, OPEN_ALWAYS, ftp::errors::get_file, L"CreateFile");
    const unsigned long long offset = size_of(local, ftp::errors::get_file);
    if (offset > remote_size)
        raise_with_reason(ftp::errors::get_file,
                          L"The local file is longer than the remote one. " + sizes_reason(offset, remote_size));
    if (offset == remote_size)
        return;

    const auto file = session.open_file(remote, ftp::Direction::download, resume_flags, offset,
                                        ftp::errors::get_file, L"ResumeFile");
    receive(session, *file, local, ftp::errors::get_file, ftp::errors::read_file, remote_size - offset);
    file->finish(ftp::errors::get_file, L"ResumeFile");
    const unsigned long long local_size = size_of(local, ftp::errors::get_file);
    if (local_size != remote_size)
        raise_with_reason(ftp::errors::resume_incomplete, sizes_reason(local_size, remote_size));
}

void resume_put_file(ftp::Session& session, const std::wstring& local_path, std::wstring_view remote_path)
{
    check_local_path(local_path, ftp::errors::put_file);
    const ftp::WireText remote = upload_name(session, remote_path);
    session.set_bytes_transferred(0);
    FileHandle local = open_local(local_path, GENERIC_READ, OPEN_EXISTING, ftp::errors::put_file, L"CreateFile");
    const unsigned long long local_size = size_of(local, ftp::errors::put_file);
    const unsigned long long offset = session.find_remote_file_size(remote).value_or(0);
    if (offset > local_size)
        raise_with_reason(ftp::errors::put_file,
                          L"The remote file is longer than the local one. " + sizes_reason(local_size, offset));
    if (offset == local_size)
        return;

    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(local.get(), position, nullptr, FILE_BEGIN))
        raise_platform_error(ftp::errors::put_file, static_cast<LONG>(::GetLastError()), L"SetFilePointer");
    const auto file = session.open_file(remote, ftp::Direction::upload, resume_flags, offset,
                                        ftp::errors::put_file, L"ResumePutFile");
    send(session, local, *file, ftp::errors::put_file);
    file->finish(ftp::errors::put_file, L"ResumePutFile");
    const unsigned long long remote_size = session.remote_file_size(remote);
    if (remote_size != local_size)
        raise_with_reason(ftp::errors::resume_incomplete, sizes_reason(local_size, remote_size));
}

}  // namespace corvane::transfer
