#include "transfer/resume.h"

#include "frame/error.h"
#include "frame/error_text.h"
#include "frame/handles.h"
#include "frame/platform.h"
#include "ftp/ftp_errors.h"
#include "ftp/replies.h"
#include "transfer/local_names.h"
#include "transfer/single_file.h"

#include <vector>

namespace corvane::transfer {

namespace {

constexpr DWORD chunk_size = 64 * 1024;

std::wstring sizes_reason(unsigned long long local, unsigned long long remote)
{
    return L"The local file has " + std::to_wstring(local) + L" bytes, the remote one " + std::to_wstring(remote) +
           L" bytes.";
}

FileHandle open_local(const std::wstring& path, DWORD access, DWORD disposition, const ErrorCode& error)
{
    const HANDLE handle = CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        raise_platform_error(error, static_cast<LONG>(::GetLastError()), L"CreateFile");
    return FileHandle(handle);
}

unsigned long long size_of(const FileHandle& file, const ErrorCode& error)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size))
        raise_platform_error(error, static_cast<LONG>(::GetLastError()), L"GetFileSize");
    return static_cast<unsigned long long>(size.QuadPart);
}

// "REST <offset>" before the transfer command the platform sends next.
// Anything but a positive reply is the server's refusal.
void restart_at(ftp::Session& session, unsigned long long offset)
{
    if (offset == 0)
        return;
    const std::wstring reply =
        session.command_reply("REST " + std::to_string(offset), ftp::errors::resume_refused, L"REST");
    if (reply_code(reply) >= 400)
        raise_with_reason(ftp::errors::resume_refused, reply);
}

InternetHandle open_remote(ftp::Session& session, const ftp::WireText& remote_path, DWORD access,
                           const ErrorCode& error, std::wstring_view procedure)
{
    ftp::ServerWait wait(session, error);
    InternetHandle file(platform().FtpOpenFileA(session.connection(), remote_path.ansi(), access,
                                                FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_NO_CACHE_WRITE, 0));
    wait.finish();
    if (!file)
        raise_platform_failure(error, procedure);
    return file;
}

// Closing the remote file collects the server's final reply: only a
// positive one counts the transfer done.
void close_remote(ftp::Session& session, InternetHandle& file, const ErrorCode& error, std::wstring_view procedure)
{
    ftp::ServerWait wait(session, error);
    const bool closed = file.close();
    wait.finish();
    if (!closed) {
        file.release();  // the platform would not close it; no point asking again
        raise_platform_failure(error, procedure);
    }
    if (const std::optional<std::wstring> reason = ftp::incomplete_transfer_reason())
        raise_with_reason(error, *reason);
}

}  // namespace

void resume_file(ftp::Session& session, std::wstring_view remote_path, const std::wstring& local_path)
{
    const ftp::WireText remote = download_name(session, remote_path);
    check_local_path(local_path, ftp::errors::get_file);
    session.set_bytes_transferred(0);
    const unsigned long long remote_size = session.remote_file_size(remote);

    // Opened to append, never to truncate; a missing file starts at 0.
    FileHandle local = open_local(local_path, FILE_APPEND_DATA, OPEN_ALWAYS, ftp::errors::get_file);
    const unsigned long long offset = size_of(local, ftp::errors::get_file);
    if (offset > remote_size)
        raise_with_reason(ftp::errors::get_file,
                          L"The local file is longer than the remote one. " + sizes_reason(offset, remote_size));
    if (offset == remote_size)
        return;

    restart_at(session, offset);
    InternetHandle file = open_remote(session, remote, GENERIC_READ, ftp::errors::get_file, L"ResumeFile");
    std::vector<char> chunk(chunk_size);
    const unsigned long long expected = remote_size - offset;
    for (;;) {
        DWORD bytes_read = 0;
        ftp::ServerWait wait(session, ftp::errors::get_file);
        const BOOL read = platform().InternetReadFile(file.get(), chunk.data(), chunk_size, &bytes_read);
        wait.finish();
        if (!read)
            raise_platform_failure(ftp::errors::read_file, L"InternetReadFile");
        if (bytes_read == 0)
            break;
        // A server that sends past the size it gave would make the local
        // file longer than the remote one, or fill the disk.
        if (bytes_read > expected - session.bytes_transferred())
            raise_with_reason(ftp::errors::resume_incomplete,
                              L"The server sent more than the " + std::to_wstring(expected) + L" bytes left.");
        DWORD written = 0;
        if (!WriteFile(local.get(), chunk.data(), bytes_read, &written, nullptr) || written != bytes_read)
            raise_platform_error(ftp::errors::get_file, static_cast<LONG>(::GetLastError()), L"WriteFile");
        session.add_bytes_transferred(bytes_read);
    }
    close_remote(session, file, ftp::errors::get_file, L"ResumeFile");
    const unsigned long long local_size = size_of(local, ftp::errors::get_file);
    if (local_size != remote_size)
        raise_with_reason(ftp::errors::resume_incomplete, sizes_reason(local_size, remote_size));
}

void resume_put_file(ftp::Session& session, const std::wstring& local_path, std::wstring_view remote_path)
{
    check_local_path(local_path, ftp::errors::put_file);
    const ftp::WireText remote = upload_name(session, remote_path);
    session.set_bytes_transferred(0);
    FileHandle local = open_local(local_path, GENERIC_READ, OPEN_EXISTING, ftp::errors::put_file);
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
    restart_at(session, offset);
    InternetHandle file = open_remote(session, remote, GENERIC_WRITE, ftp::errors::put_file, L"ResumePutFile");
    std::vector<char> chunk(chunk_size);
    for (;;) {
        DWORD bytes_read = 0;
        if (!ReadFile(local.get(), chunk.data(), chunk_size, &bytes_read, nullptr))
            raise_platform_error(ftp::errors::put_file, static_cast<LONG>(::GetLastError()), L"ReadFile");
        if (bytes_read == 0)
            break;
        DWORD written = 0;
        ftp::ServerWait wait(session, ftp::errors::put_file);
        const BOOL sent = platform().InternetWriteFile(file.get(), chunk.data(), bytes_read, &written);
        wait.finish();
        if (!sent)
            raise_platform_failure(ftp::errors::put_file, L"InternetWriteFile");
        session.add_bytes_transferred(written);
        if (written != bytes_read)
            raise_with_reason(ftp::errors::put_file, L"The server took " + std::to_wstring(written) + L" of " +
                                                         std::to_wstring(bytes_read) + L" bytes.");
    }
    close_remote(session, file, ftp::errors::put_file, L"ResumePutFile");
    const unsigned long long remote_size = session.remote_file_size(remote);
    if (remote_size != local_size)
        raise_with_reason(ftp::errors::resume_incomplete, sizes_reason(local_size, remote_size));
}

}  // namespace corvane::transfer
