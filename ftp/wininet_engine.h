#pragma once
// The platform's FTP (WinInet) as a session's engine. The platform keeps
// the server's replies in a record per thread, shared by every connection
// on it, and its own time-outs do not bound every wait: the engine notes
// the record around each step and bounds each wait by a watchdog.

#include "ftp/engine.h"
#include "wininet/handles.h"
#include "wininet/watchdog.h"

#include <memory>

namespace corvane::ftp {

class WinInetEngine final : public Engine {
public:
    // Connects and logs in (and agrees on UTF-8 when asked); raises
    // open_connection.
    WinInetEngine(const ConnectSettings& settings, ReplyRecord& record);
    ~WinInetEngine() override;

    bool connected() const override { return connected_; }
    void close() override;
    void set_timeout_seconds(LONG seconds) override;
    std::string execute_command(const WireText& command, VARIANT_BOOL expect_response,
                                DWORD transfer_flags) override;
    std::string last_response() override;
    std::string current_directory() override;
    void change_directory(const WireText& directory) override;
    void create_directory(const WireText& name) override;
    void remove_directory(const WireText& name) override;
    void rename(const WireText& old_name, const WireText& new_name) override;
    void delete_file(const WireText& name) override;
    std::vector<ListingEntry> list(NameEncoding encoding) override;
    std::wstring command_reply(const std::string& command, const ErrorCode& error,
                               std::wstring_view procedure) override;
    std::unique_ptr<RemoteFile> open_file(const WireText& path, Direction direction, DWORD transfer_flags,
                                          unsigned long long offset, const ErrorCode& error,
                                          std::wstring_view procedure) override;

private:
    friend class ServerWait;
    friend class PlatformFile;
    void abandon_connection();

    ReplyRecord& record_;
    LONG timeout_seconds_;
    bool connected_ = false;
    InternetHandle session_;
    InternetHandle connection_;
    // Bounds every wait on the connection; gone before the connection is.
    std::unique_ptr<Watchdog> watchdog_;
};

}  // namespace corvane::ftp
