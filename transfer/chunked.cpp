#include "transfer/chunked.h"

#include "frame/error.h"
#include "frame/error_text.h"
#include "frame/platform.h"
#include "ftp/ftp_errors.h"
#include "ftp/replies.h"

#include <vector>

namespace corvane::transfer {

namespace {

// Large enough that the cost of a platform call and a file call per chunk
// vanishes against the bytes (measured: bench rows getfile, putfile).
constexpr DWORD chunk_size = 256 * 1024;

[[noreturn]] void raise_file_failure(const ErrorCode& error, std::wstring_view procedure)
{
    raise_platform_error(error, static_cast<LONG>(::GetLastError()), procedure);
}

}  // namespace

InternetHandle open_remote(ftp::Session& session, const ftp::WireText& remote_path, DWORD access, DWORD flags,
                           const ErrorCode& error, std::wstring_view procedure)
{
    ftp::ServerWait wait(session, error);
    InternetHandle file(platform().FtpOpenFileA(session.connection(), remote_path.ansi(), access, flags, 0));
    wait.finish();
    if (!file)
        raise_platform_failure(error, procedure);
    return file;
}

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

FileHandle open_local(const std::wstring& path, DWORD access, DWORD disposition, const ErrorCode& error,
                      std::wstring_view procedure)
{
    const HANDLE handle =
        CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        raise_file_failure(error, procedure);
    return FileHandle(handle);
}

NewLocalFile::NewLocalFile(const std::wstring& path, bool replace, const ErrorCode& error,
                           std::wstring_view procedure)
    : file_(open_local(path, GENERIC_WRITE | DELETE, replace ? OPEN_ALWAYS : CREATE_NEW, error, procedure)),
      untouched_original_(replace && ::GetLastError() == ERROR_ALREADY_EXISTS)
{
}

NewLocalFile::~NewLocalFile()
{
    if (!file_ || untouched_original_)
        return;
    // Marked through the handle: the very file made goes, whatever the
    // path names by now.
    FILE_DISPOSITION_INFO remove{TRUE};
    SetFileInformationByHandle(file_.get(), FileDispositionInfo, &remove, sizeof remove);
}

void NewLocalFile::start(const ErrorCode& error)
{
    untouched_original_ = false;
    if (!SetEndOfFile(file_.get()))
        raise_file_failure(error, L"SetEndOfFile");
}

void NewLocalFile::keep(const ErrorCode& error)
{
    if (!file_.close())
        raise_file_failure(error, L"CloseHandle");
}

void receive(ftp::Session& session, const InternetHandle& remote, const FileHandle& local, const ErrorCode& error,
             const ErrorCode& read_error, unsigned long long most)
{
    std::vector<char> chunk(chunk_size);
    unsigned long long arrived = 0;
    for (;;) {
        DWORD bytes_read = 0;
        ftp::ServerWait wait(session, error);
        const BOOL read = platform().InternetReadFile(remote.get(), chunk.data(), chunk_size, &bytes_read);
        wait.finish();
        if (!read)
            raise_platform_failure(read_error, L"InternetReadFile");
        if (bytes_read == 0)
            return;
        // A server that sends past the size it gave would make the local
        // file longer than the remote one, or fill the disk.
        if (bytes_read > most - arrived)
            raise_with_reason(ftp::errors::resume_incomplete,
                              L"The server sent more than the " + std::to_wstring(most) + L" bytes left.");
        DWORD written = 0;
        if (!WriteFile(local.get(), chunk.data(), bytes_read, &written, nullptr) || written != bytes_read)
            raise_file_failure(error, L"WriteFile");
        arrived += bytes_read;
        session.add_bytes_transferred(bytes_read);
    }
}

void send(ftp::Session& session, const FileHandle& local, const InternetHandle& remote, const ErrorCode& error)
{
    std::vector<char> chunk(chunk_size);
    for (;;) {
        DWORD bytes_read = 0;
        if (!ReadFile(local.get(), chunk.data(), chunk_size, &bytes_read, nullptr))
            raise_file_failure(error, L"ReadFile");
        if (bytes_read == 0)
            return;
        DWORD written = 0;
        ftp::ServerWait wait(session, error);
        const BOOL sent = platform().InternetWriteFile(remote.get(), chunk.data(), bytes_read, &written);
        wait.finish();
        if (!sent)
            raise_platform_failure(error, L"InternetWriteFile");
        session.add_bytes_transferred(written);
        if (written != bytes_read)
            raise_with_reason(error, L"The server took " + std::to_wstring(written) + L" of " +
                                         std::to_wstring(bytes_read) + L" bytes.");
    }
}

}  // namespace corvane::transfer
