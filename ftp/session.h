#pragma once
// One FTP session with one server: the connection's properties, connect
// and close, remote commands, the current directory and its listing. Every
// operation raises the FTP class's own errors (ftp/ftp_errors.h).

#include "frame/error_code.h"
#include "frame/error_text.h"
#include "frame/handles.h"
#include "frame/watchdog.h"
#include "frame/win32.h"
#include "ftp/listing.h"
#include "ftp/wire_text.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::ftp {

// The platform's transfer flags, as scripts choose them.
enum class TransferType : DWORD {
    ascii = FTP_TRANSFER_TYPE_ASCII,
    binary = FTP_TRANSFER_TYPE_BINARY,
};

class Session {
public:
    Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    // Nobody is left to hear about a failed close.
    ~Session();

    const std::wstring& url() const { return url_; }
    void set_url(std::wstring url) { url_ = std::move(url); }
    const std::wstring& username() const { return username_; }
    void set_username(std::wstring username) { username_ = std::move(username); }
    const std::wstring& password() const { return password_; }
    void set_password(std::wstring password) { password_ = std::move(password); }
    LONG port() const { return port_; }
    void set_port(LONG port);
    // Empty when none is set; text of spaces alone sets none.
    std::wstring proxy() const { return proxy_.value_or(std::wstring()); }
    void set_proxy(std::wstring proxy);
    bool passive() const { return connection_flags_ == INTERNET_FLAG_PASSIVE; }
    void set_passive(bool passive) { connection_flags_ = passive ? INTERNET_FLAG_PASSIVE : 0; }
    TransferType transfer_type() const { return transfer_type_; }
    void set_transfer_type(TransferType transfer_type) { transfer_type_ = transfer_type; }
    DWORD transfer_flags() const { return static_cast<DWORD>(transfer_type_); }
    // How long each connect, command reply and data transfer step may wait
    // on the server, 1 to 86400 seconds. A change while connected applies
    // to the live connection at once.
    LONG timeout_seconds() const { return timeout_seconds_; }
    void set_timeout_seconds(LONG seconds);

    // The code of the server's last reply as this session learned it at
    // its own last step; 0 before any, and when the platform recorded no
    // reply for that step. Kept here because the platform's record is per
    // thread and shared by every connection on it: read when a script
    // asks, it could hold another object's reply, or nothing at all on a
    // thread other than the one that made the call.
    LONG last_reply_code() const { return last_reply_code_; }

    // Bytes of the last single-file or tree transfer. Reset as a transfer
    // starts; after a failure it holds what did arrive before it.
    unsigned long long bytes_transferred() const { return bytes_transferred_; }
    void set_bytes_transferred(unsigned long long count) { bytes_transferred_ = count; }
    void add_bytes_transferred(unsigned long long count) { bytes_transferred_ += count; }

    // Asked for at the next open; an open connection keeps what it agreed
    // with the server, so that names never change encoding under a script.
    bool utf8() const { return utf8_; }
    void set_utf8(bool utf8) { utf8_ = utf8; }
    // What names travel in: as agreed while connected, else as the next
    // open will ask.
    NameEncoding name_encoding() const;
    // Text checked for the wire in the session's encoding.
    WireText wire(std::wstring_view text, const ErrorCode& error, std::wstring_view what = L"name") const;
    // Text of bytes the server sent, in the session's encoding.
    std::wstring text_of_wire(std::string_view bytes) const;

    // Does nothing when already connected.
    void open();
    void close();
    bool connected() const { return connected_; }
    // For the platform calls of transfers; null while not connected.
    HINTERNET connection() const { return connection_.get(); }

    // The whole reply when a response is expected (exactly VARIANT_TRUE);
    // `expect_response` goes to the platform as given.
    std::wstring execute_command(std::wstring_view command, VARIANT_BOOL expect_response);
    // The server's last reply, as the platform recorded it.
    std::wstring last_response() const;

    // Ends with "/"; raises not_connected while not connected.
    std::wstring current_directory();
    void change_directory(const WireText& directory);
    // Back to `directory` after a failed step, without hiding that step:
    // LastReplyCode stays its code, and a failure to change back is not
    // reported over it.
    void return_after_failure(const std::wstring& directory) noexcept;
    void create_directory(const WireText& name);
    void remove_directory(const WireText& name);
    void rename(const WireText& old_name, const WireText& new_name);
    void delete_file(const WireText& name);

    // The current directory's entries, in server order.
    std::vector<ListingEntry> list();

    // From the server's SIZE reply; `error` is raised for a name the wire
    // cannot carry. Switches the session to binary: servers refuse SIZE in
    // ASCII mode, where the size on the wire is not the file's.
    unsigned long long remote_file_size(const WireText& remote_path);
    // The same, but nothing when the server has no such file (550).
    std::optional<unsigned long long> find_remote_file_size(const WireText& remote_path);
    // A command without a data channel whose reply the caller judges: the
    // reply's text when the platform recorded one, else empty. Raises
    // `error` when the platform reports a failure and no reply came.
    std::wstring command_reply(const std::string& command, const ErrorCode& error, std::wstring_view procedure);
    // "TYPE I" on the wire, whatever the transfer type scripts chose.
    void switch_to_binary(const ErrorCode& error);

private:
    friend class ServerWait;
    // After the watchdog closed the connection handle: nothing of the
    // connection is closed again, and the next open starts over.
    void abandon_connection();
    std::wstring size_reply(const WireText& remote_path);

    std::wstring url_;
    std::wstring username_;
    std::wstring password_;
    LONG port_ = INTERNET_DEFAULT_FTP_PORT;
    std::optional<std::wstring> proxy_;
    DWORD connection_flags_ = 0;
    TransferType transfer_type_ = TransferType::ascii;
    bool utf8_ = false;
    NameEncoding connection_encoding_ = NameEncoding::ansi;
    bool connected_ = false;
    LONG timeout_seconds_ = 60;
    LONG last_reply_code_ = 0;
    unsigned long long bytes_transferred_ = 0;
    InternetHandle session_;
    InternetHandle connection_;
    // Bounds every wait on the connection; gone before the connection is.
    std::unique_ptr<Watchdog> watchdog_;
};

// One platform call on a connected session that may wait on the server.
// The watchdog bounds the wait by the session's timeout (plus a little, so
// that the platform's own timeout, where it works, speaks first); the
// session notes the reply code when the step ends, however it ends.
//
// Call finish() as soon as the platform call returns and before its
// result is used: after a timeout the connection is gone, the session
// counts as closed (OpenConnection works again) and `error` is raised with
// the reason.
class ServerWait {
public:
    ServerWait(Session& session, const ErrorCode& error);
    ~ServerWait();
    ServerWait(const ServerWait&) = delete;
    ServerWait& operator=(const ServerWait&) = delete;

    void finish();
    const std::wstring& reply_before() const { return step_.reply_before(); }

private:
    Session& session_;
    const ErrorCode& error_;
    int exceptions_at_start_;
    PlatformStep step_;
    Watchdog* watchdog_ = nullptr;
};

// " Timed out: the server sent nothing for <n> seconds." without the
// leading space.
std::wstring timed_out_reason(LONG seconds);

}  // namespace corvane::ftp
