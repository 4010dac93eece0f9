#pragma once
// What a session asks of the engine that speaks FTP for it: the platform's
// (WinInet) or the component's own (ftpproto/). The session keeps the
// policy: settings, names on the wire, which errors scripts see; an engine
// carries the steps out and raises the session's catalogue errors, with
// the WinInet code of each fault, so that both read the same to a script.

#include "frame/error_code.h"
#include "ftp/listing.h"
#include "ftp/wire_text.h"
#include "wininet/wininet.h"

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::ftp {

// How a session connects; the engine takes it at open().
// How the connections are protected; the numbers are the ones scripts set.
enum class Security : LONG {
    none = 0,
    explicit_tls = 1,
    implicit_tls = 2,
};

// Texts are bytes the session proved fit for the wire (ftp/wire_text.h).
struct ConnectSettings {
    std::string host;
    INTERNET_PORT port = INTERNET_DEFAULT_FTP_PORT;
    std::string username;
    std::string password;
    std::string proxy;
    bool has_proxy = false;
    bool passive = false;
    bool trust_passive_address = false;
    bool utf8 = false;
    Security security = Security::none;
    bool ignore_certificate_errors = false;
    LONG timeout_seconds = 60;
    // The transfer type commands other than transfers go with.
    DWORD transfer_flags = FTP_TRANSFER_TYPE_ASCII;
};

// What the session last heard from the server, as a script reads it from
// LastReplyCode. Engines write it at the end of every step that waited on
// the server, however the step ended.
struct ReplyRecord {
    LONG code = 0;
};

// One remote file open for a transfer, or a listing's data.
class RemoteFile {
public:
    virtual ~RemoteFile() = default;
    // Up to buffer.size() bytes; 0 at the end. A wait that ran out raises
    // `wait_error`, any other fault `read_error`.
    virtual size_t read(std::span<char> buffer, const ErrorCode& wait_error, const ErrorCode& read_error) = 0;
    size_t read(std::span<char> buffer, const ErrorCode& error) { return read(buffer, error, error); }
    // All of `bytes`, or raises `error`; what did go counts in `sent`.
    virtual void write(std::span<const char> bytes, size_t& sent, const ErrorCode& error) = 0;
    // The file's size before its first byte, when the engine learned it;
    // 0 when not (an empty file loses nothing by that).
    virtual unsigned long long size_before_transfer() = 0;
    // Ends the transfer: done only when the server's final reply says so;
    // raises `error` otherwise.
    virtual void finish(const ErrorCode& error, std::wstring_view procedure) = 0;
    // Ends a transfer cut short on purpose: the server stops, the connection
    // stays usable, and what the server says about the cut is no fault.
    virtual void abandon() noexcept = 0;
};

enum class Direction { download, upload };

class Engine {
public:
    virtual ~Engine() = default;

    // False once the connection is gone (closed, timed out, dropped): the
    // session then counts as closed and the next open starts over.
    virtual bool connected() const = 0;
    virtual void close() = 0;
    virtual void set_timeout_seconds(LONG seconds) = 0;

    // The command's data when `expect_response` (exactly VARIANT_TRUE),
    // else nothing.
    virtual std::string execute_command(const WireText& command, VARIANT_BOOL expect_response,
                                        DWORD transfer_flags) = 0;
    // The server's last reply as sent; empty before any.
    virtual std::string last_response() = 0;
    // The directory PWD names, as sent.
    virtual std::string current_directory() = 0;
    virtual void change_directory(const WireText& directory) = 0;
    virtual void create_directory(const WireText& name) = 0;
    virtual void remove_directory(const WireText& name) = 0;
    virtual void rename(const WireText& old_name, const WireText& new_name) = 0;
    virtual void delete_file(const WireText& name) = 0;
    virtual std::vector<ListingEntry> list(NameEncoding encoding) = 0;
    // A command without data: the reply's text when there is one, which
    // the caller judges; raises `error` only when none came.
    virtual std::wstring command_reply(const std::string& command, const ErrorCode& error,
                                       std::wstring_view procedure) = 0;
    // RETR or STOR (from `offset` by REST, which the server must accept or
    // resume_refused is raised with its reply).
    virtual std::unique_ptr<RemoteFile> open_file(const WireText& path, Direction direction, DWORD transfer_flags,
                                                  unsigned long long offset, const ErrorCode& error,
                                                  std::wstring_view procedure) = 0;
};

// What a member that timed out says after its message, on either engine:
// "Timed out: the server sent nothing for <n> seconds."
std::wstring timed_out_reason(LONG seconds);

}  // namespace corvane::ftp
