#pragma once
// The component's own FTP client (ftpproto/) as a session's engine. Every
// step returns the server's reply to the engine itself, so nothing here
// reads a per-thread record, and every wait is bounded by the client's
// socket time-outs: no watchdog.

#include "ftp/engine.h"
#include "ftpproto/client.h"

#include <memory>

namespace corvane::ftp {

class NativeEngine final : public Engine {
public:
    // Connects, logs in and agrees on UTF-8 when asked; raises
    // open_connection.
    NativeEngine(const ConnectSettings& settings, ReplyRecord& record);
    ~NativeEngine() override;

    bool connected() const override { return client_ && client_->connected(); }
    void close() override;
    void set_timeout_seconds(LONG seconds) override;
    std::string execute_command(const WireText& command, VARIANT_BOOL expect_response,
                                DWORD transfer_flags) override;
    std::string last_response() override { return last_reply_; }
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

    // Notes a reply the client heard: LastReplyCode and GetLastResponse.
    void heard(const ftpproto::Reply& reply);
    // One client step: a failure raises `error` (a time-out `wait_error`
    // when given) as the platform's engine would for the same fault; the
    // reply that came, if any, is noted.
    template <class Step>
    auto step(const ErrorCode& error, std::wstring_view procedure, Step&& body, const ErrorCode* wait_error = nullptr);
    // A command whose reply must be positive (below 400) or `error` is
    // raised with it.
    ftpproto::Reply positive(std::string_view line, const ErrorCode& error, std::wstring_view procedure);
    // "TYPE A" or "TYPE I" unless the server is in that type already.
    void use_type(DWORD transfer_flags, const ErrorCode& error, std::wstring_view procedure);

private:
    ReplyRecord& record_;
    std::unique_ptr<ftpproto::Client> client_;
    std::string last_reply_;
    LONG timeout_seconds_;
    // The TYPE the server was last told; 0 before any.
    char type_ = 0;
};

}  // namespace corvane::ftp
