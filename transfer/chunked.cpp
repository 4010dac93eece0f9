#include "transfer/chunked.h"

#include "frame/error.h"
#include "frame/error_text.h"
#include "ftp/ftp_errors.h"
#include "wininet/error_text.h"

#include <memory>
#include <span>

namespace corvane::transfer {

namespace {

// Large enough that the cost of a platform call and a file call per chunk
// vanishes against the bytes (measured, bench rows of the own engine's
// GetFile and PutFile: at 256 KiB those calls took a third of an upload's
// time under Wine; 4 MiB was no faster than 1 MiB). A transfer starts at
// the small size and moves to the large one once it fills a chunk: a buffer
// of 1 MiB made per small file made tree uploads a sixth slower.
constexpr DWORD first_chunk_size = 256 * 1024;
constexpr DWORD chunk_size = 1024 * 1024;

class Chunk {
public:
    std::span<char> bytes() const { return {data_.get(), size_}; }

    // After a chunk came back full, more is likely to follow.
    void grow_when_filled(size_t used)
    {
        if (used == size_ && size_ < chunk_size) {
            size_ = chunk_size;
            data_ = std::make_unique_for_overwrite<char[]>(size_);
        }
    }

private:
    // Not zeroed: only the pages filled are touched.
    size_t size_ = first_chunk_size;
    std::unique_ptr<char[]> data_ = std::make_unique_for_overwrite<char[]>(first_chunk_size);
};

[[noreturn]] void raise_file_failure(const ErrorCode& error, std::wstring_view procedure)
{
    raise_platform_error(error, static_cast<LONG>(::GetLastError()), procedure);
}

}  // namespace

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

void receive(ftp::Session& session, ftp::RemoteFile& remote, const FileHandle& local, const ErrorCode& error,
             const ErrorCode& read_error, unsigned long long most)
{
    Chunk chunk;
    unsigned long long arrived = 0;
    for (;;) {
        const size_t bytes_read = remote.read(chunk.bytes(), error, read_error);
        if (bytes_read == 0)
            return;
        // A server that sends past the size it gave would make the local
        // file longer than the remote one, or fill the disk.
        if (bytes_read > most - arrived)
            raise_with_reason(ftp::errors::resume_incomplete,
                              L"The server sent more than the " + std::to_wstring(most) + L" bytes left.");
        DWORD written = 0;
        if (!WriteFile(local.get(), chunk.bytes().data(), static_cast<DWORD>(bytes_read), &written, nullptr) ||
            written != bytes_read)
            raise_file_failure(error, L"WriteFile");
        arrived += bytes_read;
        session.add_bytes_transferred(bytes_read);
        chunk.grow_when_filled(bytes_read);
    }
}

void send(ftp::Session& session, const FileHandle& local, ftp::RemoteFile& remote, const ErrorCode& error)
{
    Chunk chunk;
    for (;;) {
        DWORD bytes_read = 0;
        const std::span<char> bytes = chunk.bytes();
        if (!ReadFile(local.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &bytes_read, nullptr))
            raise_file_failure(error, L"ReadFile");
        if (bytes_read == 0)
            return;
        size_t sent = 0;
        // What did go counts even when the rest did not.
        try {
            remote.write(std::span<const char>(bytes.data(), bytes_read), sent, error);
        } catch (...) {
            session.add_bytes_transferred(sent);
            throw;
        }
        session.add_bytes_transferred(sent);
        chunk.grow_when_filled(bytes_read);
    }
}

}  // namespace corvane::transfer
