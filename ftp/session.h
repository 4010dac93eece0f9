#pragma once
// One FTP session with one server: the connection's properties, connect
// and close, remote commands, the current directory and its listing. Every
// operation raises the FTP class's own errors (ftp/ftp_errors.h).

#include "frame/handles.h"
#include "frame/win32.h"
#include "ftp/listing.h"
#include "ftp/wire_text.h"

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
    void create_directory(const WireText& name);
    void remove_directory(const WireText& name);
    void rename(const WireText& old_name, const WireText& new_name);
    void delete_file(const WireText& name);

    // The current directory's entries, in server order.
    std::vector<ListingEntry> list();

private:
    std::wstring url_;
    std::wstring username_;
    std::wstring password_;
    LONG port_ = INTERNET_DEFAULT_FTP_PORT;
    std::optional<std::wstring> proxy_;
    DWORD connection_flags_ = 0;
    TransferType transfer_type_ = TransferType::ascii;
    bool connected_ = false;
    InternetHandle session_;
    InternetHandle connection_;
};

}  // namespace corvane::ftp
