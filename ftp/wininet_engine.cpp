#include "ftp/wininet_engine.h"

#include "frame/error.h"
#include "frame/error_text.h"
#include "frame/platform.h"
#include "frame/text.h"
#include "ftp/ftp_errors.h"
#include "ftp/replies.h"
#include "wininet/error_text.h"
#include "wininet/platform.h"
#include "wininet/timeouts.h"

#include <algorithm>
#include <cstring>
#include <exception>

namespace corvane::ftp {

namespace {

constexpr LPCSTR agent = "Corvane FTP";
// What the watchdog leaves the platform's own timeout, where it has one
// that works, to end the wait first with its own error.
constexpr DWORD watchdog_grace_milliseconds = 500;

// The plain send and receive options bound the control channel only.
constexpr DWORD timeout_options[] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                                     INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT,
                                     INTERNET_OPTION_DATA_RECEIVE_TIMEOUT};

constexpr DWORD directory_capacity = MAX_PATH;
// A directory text longer than any server sends; the growing buffer stops
// here.
constexpr DWORD directory_capacity_limit = 64 * 1024;
constexpr DWORD command_read_size = 4096;
constexpr DWORD find_flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
constexpr std::wstring_view listing_procedure = L"GetDirectoryListing";
// More digits than any real file needs, and fewer than overflow.
constexpr size_t longest_size_text = 18;

DWORD milliseconds_of(LONG seconds)
{
    return static_cast<DWORD>(seconds) * 1000;
}

bool is_feature_line(std::string_view line, std::string_view feature)
{
    // " UTF8" or " UTF8 <arguments>", in any case, as FEAT lists features.
    const size_t first = line.find_first_not_of(' ');
    if (first == 0 || first == std::string_view::npos)
        return false;
    line.remove_prefix(first);
    if (line.size() < feature.size())
        return false;
    for (size_t index = 0; index < feature.size(); ++index) {
        if (ascii_upper(line[index]) != feature[index])
            return false;
    }
    return line.size() == feature.size() || line[feature.size()] == ' ' || line[feature.size()] == '\r';
}

// Whether a reply to FEAT lists UTF8. Only a 211 reply counts: the platform
// may still hold an older reply in its record.
bool lists_utf8(std::string_view reply)
{
    if (reply_code(from_ansi(reply.substr(0, 4))) != 211)
        return false;
    for (size_t start = 0; start < reply.size();) {
        const size_t end = std::min(reply.find('\n', start), reply.size());
        if (is_feature_line(reply.substr(start, end - start), "UTF8"))
            return true;
        start = end + 1;
    }
    return false;
}

BOOL send_control_command(HINTERNET connection, DWORD transfer_flags, LPCSTR command)
{
    // No response is expected: the reply stays on the control connection,
    // and the platform fails the call when it is negative.
    InternetHandle no_data_channel;
    return wininet().FtpCommandA(connection, FALSE, transfer_flags, command, 0, no_data_channel.put());
}

// Asks the server for UTF-8 names. A server that lists UTF8 among its
// features speaks it whether or not it takes OPTS (some always do and
// refuse to switch); one that does neither would misread every name, and
// the connect fails rather than go on.
void agree_on_utf8(HINTERNET connection, DWORD transfer_flags)
{
    bool listed = false;
    {
        const PlatformStep step;
        // The platform may not keep the reply of a call that succeeded
        // (Wine keeps only its last line); OPTS alone then decides.
        if (send_control_command(connection, transfer_flags, "FEAT"))
            listed = lists_utf8(last_response_bytes());
    }
    const PlatformStep step;
    if (send_control_command(connection, transfer_flags, "OPTS UTF8 ON")) {
        // A platform that let a negative reply pass as success: the reply
        // is the word, when it is a new one.
        const std::wstring reply = last_response_text();
        if (listed || reply_code(reply) < 400 || reply == step.reply_before())
            return;
        raise_with_reason(errors::open_connection, L"The server refused names in UTF-8: " + reply);
    }
    const DWORD code = platform().GetLastError();
    if (code != ERROR_INTERNET_EXTENDED_ERROR)
        raise_platform_error(errors::open_connection, static_cast<LONG>(code), L"OpenConnection");
    if (listed)
        return;
    raise_with_reason(errors::open_connection, L"The server refused names in UTF-8: " + last_response_text());
}

// The end of a listing. Windows reports it as ERROR_NO_MORE_FILES; a failed
// find that sets no error at all (Wine, for an empty directory) has reported
// nothing but the end either.
bool is_end_of_listing(DWORD code)
{
    return code == ERROR_NO_MORE_FILES || code == ERROR_SUCCESS;
}

void clear_name(WIN32_FIND_DATAA& record)
{
    std::memset(record.cFileName, 0, sizeof record.cFileName);
}

// The platform ends a listing whose connection dropped as it ends any other
// (Wine keeps the entries that arrived and reports no error); only the
// server's final reply, or its absence, tells the two apart.
void check_listing_complete(bool nothing_listed)
{
    const std::optional<std::wstring> reason = incomplete_transfer_reason();
    if (!reason)
        return;
    // Some servers refuse to list an empty directory ("550 No files
    // found"); with nothing listed and the platform calling it the end,
    // their word stands.
    if (nothing_listed && reply_code(*reason) >= 400)
        return;
    raise_with_reason(errors::listing, *reason);
}

// The size a "150 Opening BINARY mode data connection for x (1234 bytes)."
// reply announces; nothing when it announces none.
std::optional<unsigned long long> size_in_reply(std::wstring_view reply)
{
    const int code = reply_code(reply);
    if (code != 150 && code != 125)
        return std::nullopt;
    constexpr std::wstring_view unit = L" bytes)";
    for (size_t end = reply.find(unit); end != std::wstring_view::npos; end = reply.find(unit, end + 1)) {
        const size_t open = reply.rfind(L'(', end);
        if (open == std::wstring_view::npos)
            break;
        const std::optional<unsigned long long> size =
            parse_decimal(reply.substr(open + 1, end - open - 1), longest_size_text);
        if (size)
            return size;
    }
    return std::nullopt;
}

}  // namespace

std::wstring timed_out_reason(LONG seconds)
{
    return L"Timed out: the server sent nothing for " + std::to_wstring(seconds) + L" seconds.";
}

// One platform call on a connected engine that may wait on the server.
// The watchdog bounds the wait by the timeout (plus a little, so that the
// platform's own timeout, where it works, speaks first); the reply code is
// noted when the step ends, however it ends.
//
// Call finish() as soon as the platform call returns and before its
// result is used: after a timeout the connection is gone, the engine
// counts as closed and `error` is raised with the reason.
class ServerWait {
public:
    ServerWait(WinInetEngine& engine, const ErrorCode& error)
        : engine_(engine), error_(error), exceptions_at_start_(std::uncaught_exceptions())
    {
        // Nothing waits on an engine that is not connected: its calls fail
        // at once for want of a handle.
        if (engine.connected_ && engine.watchdog_) {
            watchdog_ = engine.watchdog_.get();
            watchdog_->arm(milliseconds_of(engine.timeout_seconds_) + watchdog_grace_milliseconds);
        }
    }

    ~ServerWait()
    {
        const bool fired = watchdog_ && watchdog_->disarm();
        if (fired)
            engine_.abandon_connection();
        // A step without a recorded reply gives 0, never a code it only
        // implies; after a timeout there was no reply at all. A failed step
        // can leave an older reply in the record (Wine: a CWD that got no
        // answer still shows the login's 230), so one unchanged since the
        // step began does not count then. After a success it does: the
        // platform records every reply, and a server says the same thing
        // twice often. Kept for the caller, who may still read what the
        // platform last said.
        const DWORD code = ::GetLastError();
        std::wstring reply = fired || !engine_.connected_ ? std::wstring() : last_response_text();
        ::SetLastError(code);
        if (std::uncaught_exceptions() > exceptions_at_start_ && reply == step_.reply_before())
            reply.clear();
        engine_.record_.code = reply_code(reply);
    }

    ServerWait(const ServerWait&) = delete;
    ServerWait& operator=(const ServerWait&) = delete;

    void finish()
    {
        if (!watchdog_ || !watchdog_->disarm())
            return;
        // Gone with the connection.
        watchdog_ = nullptr;
        engine_.abandon_connection();
        raise_with_reason(error_, timed_out_reason(engine_.timeout_seconds_));
    }

    const std::wstring& reply_before() const { return step_.reply_before(); }

private:
    WinInetEngine& engine_;
    const ErrorCode& error_;
    int exceptions_at_start_;
    PlatformStep step_;
    Watchdog* watchdog_ = nullptr;
};

namespace {

// One platform call that waits on the server: a time-out raises
// `wait_error`, a failure `error` for `procedure`. The wait is still open
// while either is raised, so that it judges the reply the step left.
template <class Call>
auto checked(WinInetEngine& engine, const ErrorCode& wait_error, const ErrorCode& error, std::wstring_view procedure,
             Call&& call)
{
    ServerWait wait(engine, wait_error);
    auto result = call();
    wait.finish();
    if (!result)
        raise_platform_failure(error, procedure);
    return result;
}

template <class Call>
auto checked(WinInetEngine& engine, const ErrorCode& error, std::wstring_view procedure, Call&& call)
{
    return checked(engine, error, error, procedure, std::forward<Call>(call));
}

}  // namespace

// A file the platform opened for a transfer.
class PlatformFile final : public RemoteFile {
public:
    PlatformFile(WinInetEngine& engine, InternetHandle file, std::optional<unsigned long long> announced)
        : engine_(engine), file_(std::move(file)), announced_(announced)
    {
    }

    size_t read(std::span<char> buffer, const ErrorCode& wait_error, const ErrorCode& read_error) override
    {
        DWORD bytes_read = 0;
        checked(engine_, wait_error, read_error, L"InternetReadFile", [&] {
            return wininet().InternetReadFile(file_.get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                              &bytes_read);
        });
        return bytes_read;
    }

    void write(std::span<const char> bytes, size_t& sent, const ErrorCode& error) override
    {
        DWORD written = 0;
        checked(engine_, error, L"InternetWriteFile", [&] {
            return wininet().InternetWriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                               &written);
        });
        sent = written;
        if (written != bytes.size())
            raise_with_reason(error, L"The server took " + std::to_wstring(written) + L" of " +
                                         std::to_wstring(bytes.size()) + L" bytes.");
    }

    // The platform's size (Windows asks the server), else the one the
    // server's reply to the open announced. Zero never counts as known:
    // Wine's FtpGetFileSize answers 0 for every file.
    unsigned long long size_before_transfer() override
    {
        DWORD high = 0;
        const DWORD low = wininet().FtpGetFileSize(file_.get(), &high);
        if (low != INVALID_FILE_SIZE || platform().GetLastError() == NO_ERROR) {
            const unsigned long long size = (static_cast<unsigned long long>(high) << 32) | low;
            if (size > 0)
                return size;
        }
        return announced_.value_or(0);
    }

    void finish(const ErrorCode& error, std::wstring_view procedure) override
    {
        ServerWait wait(engine_, error);
        const bool closed = file_.close();
        wait.finish();
        if (!closed) {
            file_.release();  // the platform would not close it; no point asking again
            raise_platform_failure(error, procedure);
        }
        if (const std::optional<std::wstring> reason = incomplete_transfer_reason())
            raise_with_reason(error, *reason);
    }

    // Closing the file ends the data connection, so the server stops
    // sending; the platform reads the server's reply to the cut.
    void abandon() noexcept override
    {
        try {
            ServerWait wait(engine_, errors::read_file);
            const bool closed = file_.close();
            wait.finish();
            if (!closed)
                file_.release();
        } catch (...) {
            file_.release();
        }
    }

private:
    WinInetEngine& engine_;
    InternetHandle file_;
    std::optional<unsigned long long> announced_;
};

WinInetEngine::WinInetEngine(const ConnectSettings& settings, ReplyRecord& record)
    : record_(record), timeout_seconds_(settings.timeout_seconds)
{
    const DWORD timeout = milliseconds_of(timeout_seconds_);
    const PlatformStep step;
    record_.code = 0;
    InternetHandle session(wininet().InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG,
                                                   settings.has_proxy ? settings.proxy.c_str() : nullptr, nullptr, 0));
    // Reported here, with the session's own reason: a connect without a
    // session would only say that the handle is missing. The timeouts are
    // set before the connect: the connection made from the session, its
    // login and its transfers take the session's values with them.
    if (!session || !set_timeouts(session.get(), timeout_options, timeout))
        raise_platform_failure(errors::open_connection, L"OpenConnection");
    // The connect, the greeting and the login wait on the server before
    // there is a connection handle: the watchdog ends them through the
    // session's.
    Watchdog watchdog(session.get(), timeout + watchdog_grace_milliseconds);
    InternetHandle connection(wininet().InternetConnectA(session.get(), settings.host.c_str(), settings.port,
                                                         settings.username.c_str(), settings.password.c_str(),
                                                         INTERNET_SERVICE_FTP,
                                                         settings.passive ? INTERNET_FLAG_PASSIVE : 0, 0));
    if (watchdog.disarm()) {
        session.release();
        if (connection)
            connection.release();  // a child of the closed session
        raise_with_reason(errors::open_connection, timed_out_reason(timeout_seconds_));
    }
    // The session goes with the raise: nothing stays open, and the next
    // open starts over. The failure's code is read before the reply.
    if (!connection) {
        const auto code = static_cast<LONG>(platform().GetLastError());
        record_.code = reply_code(last_response_text());
        raise_platform_error(errors::open_connection, code, L"OpenConnection");
    }
    if (settings.utf8) {
        // FEAT and OPTS wait on the server as any command does.
        Watchdog negotiation_watchdog(connection.get(), timeout + watchdog_grace_milliseconds);
        std::exception_ptr refusal;
        try {
            agree_on_utf8(connection.get(), settings.transfer_flags);
        } catch (...) {
            refusal = std::current_exception();
        }
        if (negotiation_watchdog.disarm()) {
            connection.release();  // closed by the watchdog
            raise_with_reason(errors::open_connection, timed_out_reason(timeout_seconds_));
        }
        if (refusal)
            std::rethrow_exception(refusal);
    }
    record_.code = reply_code(last_response_text());
    watchdog_ = std::make_unique<Watchdog>(connection.get(), timeout, false);
    session_ = std::move(session);
    connection_ = std::move(connection);
    connected_ = true;
}

WinInetEngine::~WinInetEngine()
{
    try {
        close();
    } catch (...) {
    }
}

void WinInetEngine::abandon_connection()
{
    watchdog_.reset();
    connection_.release();
    connected_ = false;
    session_.close();
}

void WinInetEngine::close()
{
    if (!connected_)
        return;
    watchdog_.reset();
    if (!connection_.close()) {
        // Still connected, so its waits stay bounded.
        const auto code = static_cast<LONG>(platform().GetLastError());
        watchdog_ = std::make_unique<Watchdog>(connection_.get(), milliseconds_of(timeout_seconds_), false);
        raise_platform_error(errors::close_connection, code, L"CloseConnection");
    }
    // With its connection gone the session is no use: disconnected even if
    // it will not close, so that open works again. The handle stays held
    // and is closed again when replaced or released.
    connected_ = false;
    if (!session_.close())
        raise_platform_failure(errors::close_connection, L"CloseConnection");
}

void WinInetEngine::set_timeout_seconds(LONG seconds)
{
    timeout_seconds_ = seconds;
    // The watchdog reads the new value at the next wait whatever the
    // platform makes of it, so a handle refusing the option is no failure.
    // The connection took the session's values when it was made: both get
    // the new ones.
    if (connected_) {
        set_timeouts(session_.get(), timeout_options, milliseconds_of(seconds));
        set_timeouts(connection_.get(), timeout_options, milliseconds_of(seconds));
    }
}

std::string WinInetEngine::execute_command(const WireText& command, VARIANT_BOOL expect_response,
                                          DWORD transfer_flags)
{
    InternetHandle data_channel;
    checked(*this, errors::execute_command, L"ExecuteCommand", [&] {
        return wininet().FtpCommandA(connection_.get(), expect_response, transfer_flags, command.ansi(), 0,
                                     data_channel.put());
    });

    // The whole reply, however the network splits it. A read that fails
    // leaves a reply cut short: passed off as the whole, it would be read
    // as the server's complete answer.
    std::string reply;
    if (expect_response == VARIANT_TRUE) {
        std::vector<char> chunk(command_read_size);
        for (;;) {
            DWORD bytes_read = 0;
            checked(*this, errors::execute_command, L"ExecuteCommand", [&] {
                return wininet().InternetReadFile(data_channel.get(), chunk.data(), command_read_size, &bytes_read);
            });
            if (bytes_read == 0)
                break;
            reply.append(chunk.data(), bytes_read);
        }
    }
    return reply;
}

std::string WinInetEngine::last_response()
{
    return last_response_bytes();
}

std::string WinInetEngine::current_directory()
{
    std::vector<char> buffer(directory_capacity, '\0');
    for (;;) {
        DWORD length = static_cast<DWORD>(buffer.size());
        ServerWait wait(*this, errors::retrieve_directory);
        const BOOL done = wininet().FtpGetCurrentDirectoryA(connection_.get(), buffer.data(), &length);
        wait.finish();
        if (done)
            break;
        const DWORD code = platform().GetLastError();
        if (code != ERROR_INSUFFICIENT_BUFFER || buffer.size() >= directory_capacity_limit)
            raise_platform_error(errors::retrieve_directory, static_cast<LONG>(code), L"Directory");
        // A path longer than the buffer. The platform may say how much it
        // needs (Windows) or not (Wine leaves the length alone): grow by
        // what it says or by doubling, whichever is more.
        const size_t doubled = buffer.size() * 2;
        const size_t asked = static_cast<size_t>(length) + 1;
        buffer.assign(std::min<size_t>(std::max(doubled, asked), directory_capacity_limit), '\0');
    }
    return std::string(up_to_nul(buffer.data(), buffer.size()));
}

void WinInetEngine::change_directory(const WireText& directory)
{
    checked(*this, errors::set_directory, L"Directory", [&] { return wininet().FtpSetCurrentDirectoryA(connection_.get(), directory.ansi()); });
}

void WinInetEngine::create_directory(const WireText& name)
{
    checked(*this, errors::create_directory, L"CreateDirectory", [&] { return wininet().FtpCreateDirectoryA(connection_.get(), name.ansi()); });
}

void WinInetEngine::remove_directory(const WireText& name)
{
    checked(*this, errors::remove_directory, L"RemoveDirectory", [&] { return wininet().FtpRemoveDirectoryA(connection_.get(), name.ansi()); });
}

void WinInetEngine::rename(const WireText& old_name, const WireText& new_name)
{
    checked(*this, errors::rename_file, L"RenameFile", [&] { return wininet().FtpRenameFileA(connection_.get(), old_name.ansi(), new_name.ansi()); });
}

void WinInetEngine::delete_file(const WireText& name)
{
    checked(*this, errors::delete_file, L"DeleteFile", [&] { return wininet().FtpDeleteFileA(connection_.get(), name.ansi()); });
}

std::vector<ListingEntry> WinInetEngine::list(NameEncoding encoding)
{
    std::vector<ListingEntry> entries;
    WIN32_FIND_DATAA record{};
    clear_name(record);
    // No search text: the whole current directory.
    ServerWait wait(*this, errors::listing);
    InternetHandle search(wininet().FtpFindFirstFileA(connection_.get(), nullptr, &record, find_flags, 0));
    wait.finish();
    if (!search) {
        const DWORD code = platform().GetLastError();
        if (!is_end_of_listing(code))
            raise_platform_error(errors::listing_first, static_cast<LONG>(code), listing_procedure);
        check_listing_complete(true);
        return entries;
    }
    entries.push_back(ListingEntry::from_find_data(record, encoding));
    for (;;) {
        clear_name(record);
        if (wininet().InternetFindNextFileA(search.get(), &record)) {
            entries.push_back(ListingEntry::from_find_data(record, encoding));
            continue;
        }
        const DWORD code = platform().GetLastError();
        if (is_end_of_listing(code))
            break;
        raise_platform_error(errors::listing_next,
                             std::wstring(errors::listing_next.message) + L"(" +
                                 std::to_wstring(static_cast<LONG>(code)) + L")(0)",
                             static_cast<LONG>(code), listing_procedure);
    }
    if (!search.close()) {
        search.release();  // the platform would not close it; no point asking again
        raise_platform_failure(errors::listing_close, listing_procedure);
    }
    check_listing_complete(false);
    return entries;
}

std::wstring WinInetEngine::command_reply(const std::string& command, const ErrorCode& error,
                                          std::wstring_view procedure)
{
    ServerWait wait(*this, error);
    const BOOL sent =
        wininet().FtpCommandA(connection_.get(), FALSE, FTP_TRANSFER_TYPE_BINARY, command.c_str(), 0, nullptr);
    wait.finish();
    if (sent)
        return last_response_text();
    // A negative reply fails the call too; the caller judges it. Without
    // one that is new, the failure is the platform's.
    const auto code = static_cast<LONG>(platform().GetLastError());
    std::wstring reply = last_response_text();
    if (reply_code(reply) >= 400 && reply != wait.reply_before())
        return reply;
    raise_platform_error(error, code, procedure);
}

std::unique_ptr<RemoteFile> WinInetEngine::open_file(const WireText& path, Direction direction,
                                                     DWORD transfer_flags, unsigned long long offset,
                                                     const ErrorCode& error, std::wstring_view procedure)
{
    // "REST <offset>" goes before the transfer command the platform sends
    // next. Anything but a positive reply is the server's refusal.
    if (offset > 0) {
        const std::wstring reply = command_reply("REST " + std::to_string(offset), errors::resume_refused, L"REST");
        if (reply_code(reply) >= 400)
            raise_with_reason(errors::resume_refused, reply);
    }
    const DWORD access = direction == Direction::download ? GENERIC_READ : GENERIC_WRITE;
    InternetHandle file(checked(*this, error, procedure, [&] {
        return wininet().FtpOpenFileA(connection_.get(), path.ansi(), access, transfer_flags, 0);
    }));
    // Read now: asking the platform for the size later may leave a reply of
    // its own.
    const std::optional<unsigned long long> announced = size_in_reply(last_response_text());
    return std::make_unique<PlatformFile>(*this, std::move(file), announced);
}

}  // namespace corvane::ftp
