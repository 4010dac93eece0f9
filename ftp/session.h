#pragma once
// One FTP session with one server: the connection's properties, connect
// and close, remote commands, the current directory and its listing. Every
// operation raises the FTP class's own errors (ftp/ftp_errors.h).

#include "frame/error_code.h"
#include "ftp/engine.h"
#include "ftp/listing.h"
#include "ftp/wire_text.h"
#include "wininet/wininet.h"

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

// Which engine speaks FTP for a session; the numbers are the ones scripts
// set.
enum class EngineKind : LONG {
    platform = 1,
    native = 2,
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
    // 990 for implicit TLS until a script sets one, else 21.
    LONG port() const;
    void set_port(LONG port);
    // Empty when none is set; text of spaces alone sets none.
    std::wstring proxy() const { return proxy_.value_or(std::wstring()); }
    void set_proxy(std::wstring proxy);
    bool passive() const { return passive_; }
    void set_passive(bool passive) { passive_ = passive; }
    // Own engine only: connect where a 227 reply says rather than to the
    // control connection's peer.
    bool trust_passive_address() const { return trust_passive_address_; }
    void set_trust_passive_address(bool trust) { trust_passive_address_ = trust; }
    // The own engine whenever TLS is asked for: the platform's has none
    // for FTP.
    EngineKind engine_kind() const { return security_ == Security::none ? engine_kind_ : EngineKind::native; }
    // Only while disconnected: a connection keeps the engine that made it.
    void set_engine_kind(EngineKind kind);
    // Asked for at the next open, as UTF8 is.
    Security security() const { return security_; }
    void set_security(Security security);
    bool ignore_certificate_errors() const { return ignore_certificate_errors_; }
    void set_ignore_certificate_errors(bool ignore) { ignore_certificate_errors_ = ignore; }
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
    LONG last_reply_code() const { return reply_record_.code; }

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
    bool connected() const { return engine_ && engine_->connected(); }

    // A remote file for a transfer; raises not_connected while not
    // connected. `offset` > 0 resumes there (REST).
    std::unique_ptr<RemoteFile> open_file(const WireText& remote_path, Direction direction, DWORD transfer_flags,
                                          unsigned long long offset, const ErrorCode& error,
                                          std::wstring_view procedure);

    // The whole reply when a response is expected (exactly VARIANT_TRUE);
    // `expect_response` goes to the platform as given.
    std::wstring execute_command(std::wstring_view command, VARIANT_BOOL expect_response);
    // The server's last reply as the engine heard it.
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
    std::wstring size_reply(const WireText& remote_path);
    // The connected engine; without one, `error` is raised as the platform
    // refuses a call without a connection.
    Engine& engine(const ErrorCode& error, std::wstring_view procedure);

    std::wstring url_;
    std::wstring username_;
    std::wstring password_;
    std::optional<LONG> port_;
    std::optional<std::wstring> proxy_;
    bool passive_ = false;
    bool trust_passive_address_ = false;
    EngineKind engine_kind_ = EngineKind::platform;
    Security security_ = Security::none;
    bool ignore_certificate_errors_ = false;
    TransferType transfer_type_ = TransferType::ascii;
    bool utf8_ = false;
    NameEncoding connection_encoding_ = NameEncoding::ansi;
    LONG timeout_seconds_ = 60;
    ReplyRecord reply_record_;
    unsigned long long bytes_transferred_ = 0;
    std::unique_ptr<Engine> engine_;
};

}  // namespace corvane::ftp
