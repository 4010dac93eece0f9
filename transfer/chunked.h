#pragma once
// Transfers the component moves itself, chunk by chunk, between a remote
// file the session's engine opened and a local file opened by its wide
// name. The
// platform's one-call transfers take the local name in the ANSI code page,
// which cannot hold every name and stands in best-fit characters for
// others (a fullwidth reverse solidus becomes a separator): the local side
// is never theirs.

#include "frame/error_code.h"
#include "frame/handles.h"
#include "ftp/session.h"
#include "ftp/wire_text.h"

#include <string>
#include <string_view>

namespace corvane::transfer {

// A failure names `procedure`: the member, where the platform's own
// transfer named it before.
FileHandle open_local(const std::wstring& path, DWORD access, DWORD disposition, const ErrorCode& error,
                      std::wstring_view procedure);

// A download's local file: opened before the server is asked, so that an
// existing file or a missing folder stops the download at once, and
// removed again unless kept, so that a failed download leaves no partial
// file behind. An existing file it may replace stays as it was until
// start(): a remote file that cannot be opened costs it nothing.
class NewLocalFile {
public:
    // Without `replace`, an existing file raises.
    NewLocalFile(const std::wstring& path, bool replace, const ErrorCode& error, std::wstring_view procedure);
    NewLocalFile(const NewLocalFile&) = delete;
    NewLocalFile& operator=(const NewLocalFile&) = delete;
    ~NewLocalFile();

    const FileHandle& file() const { return file_; }
    // Empties a file being replaced: the transfer is under way.
    void start(const ErrorCode& error);
    void keep(const ErrorCode& error);

private:
    FileHandle file_;
    bool untouched_original_ = false;
};

// Remote to local until the platform's empty read; each chunk counts in
// the session's bytes transferred once written. More than `most` bytes
// raise resume_incomplete before they are written.
void receive(ftp::Session& session, ftp::RemoteFile& remote, const FileHandle& local, const ErrorCode& error,
             const ErrorCode& read_error, unsigned long long most);

// Local to remote from the local file's position to its end; each chunk
// counts once the server took it.
void send(ftp::Session& session, const FileHandle& local, ftp::RemoteFile& remote, const ErrorCode& error);

}  // namespace corvane::transfer
