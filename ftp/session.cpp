// Connection properties, connect and close.

#include "ftp/session.h"

#include "frame/error.h"
#include "frame/error_text.h"
#include "frame/platform.h"
#include "frame/text.h"
#include "frame/timeouts.h"
#include "ftp/ftp_errors.h"

#include <algorithm>
#include <exception>

namespace corvane::ftp {

namespace {

constexpr LPCSTR agent = "Corvane FTP";
constexpr LONG longest_timeout_seconds = 24 * 60 * 60;
// What the watchdog leaves the platform's own timeout, where it has one
// that works, to end the wait first with its own error.
constexpr DWORD watchdog_grace_milliseconds = 500;

// The plain send and receive options bound the control channel only.
constexpr DWORD timeout_options[] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                                     INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT,
                                     INTERNET_OPTION_DATA_RECEIVE_TIMEOUT};

WireText login_text(std::wstring_view text, std::wstring_view what)
{
    // Sent before any agreement on UTF-8.
    return WireText(text, NameEncoding::ansi, errors::open_connection, what);
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
    return platform().FtpCommandA(connection, FALSE, transfer_flags, command, 0, no_data_channel.put());
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

}  // namespace

Session::~Session()
{
    try {
        close();
    } catch (...) {
    }
}

void Session::set_port(LONG port)
{
    // The platform takes an unsigned 16-bit port.
    if (port < 1 || port > 65535)
        raise(errors::invalid_port);
    port_ = port;
}

void Session::set_timeout_seconds(LONG seconds)
{
    if (seconds < 1 || seconds > longest_timeout_seconds)
        raise(errors::invalid_timeout);
    timeout_seconds_ = seconds;
    // The watchdog reads the new value at the next wait whatever the
    // platform makes of it, so a handle refusing the option is no failure.
    // The connection took the session's values when it was made: both get
    // the new ones.
    if (connected_) {
        const DWORD milliseconds = static_cast<DWORD>(seconds) * 1000;
        set_timeouts(session_.get(), timeout_options, milliseconds);
        set_timeouts(connection_.get(), timeout_options, milliseconds);
    }
}

void Session::abandon_connection()
{
    watchdog_.reset();
    connection_.release();
    connected_ = false;
    session_.close();
}

std::wstring timed_out_reason(LONG seconds)
{
    return L"Timed out: the server sent nothing for " + std::to_wstring(seconds) + L" seconds.";
}

ServerWait::ServerWait(Session& session, const ErrorCode& error)
    : session_(session), error_(error), exceptions_at_start_(std::uncaught_exceptions())
{
    // Nothing waits on a session that is not connected: its calls fail at
    // once for want of a handle.
    if (session.connected_ && session.watchdog_) {
        watchdog_ = session.watchdog_.get();
        watchdog_->arm(static_cast<DWORD>(session.timeout_seconds_) * 1000 + watchdog_grace_milliseconds);
    }
}

ServerWait::~ServerWait()
{
    const bool fired = watchdog_ && watchdog_->disarm();
    if (fired)
        session_.abandon_connection();
    // A step without a recorded reply gives 0, never a code it only
    // implies; after a timeout there was no reply at all. A failed step
    // can leave an older reply in the record (Wine: a CWD that got no
    // answer still shows the login's 230), so one unchanged since the step
    // began does not count then. After a success it does: the platform
    // records every reply, and a server says the same thing twice often.
    // Kept for the caller, who may still read what the platform last said.
    const DWORD code = ::GetLastError();
    std::wstring reply = fired || !session_.connected_ ? std::wstring() : last_response_text();
    ::SetLastError(code);
    if (std::uncaught_exceptions() > exceptions_at_start_ && reply == step_.reply_before())
        reply.clear();
    session_.last_reply_code_ = reply_code(reply);
}

void ServerWait::finish()
{
    if (!watchdog_ || !watchdog_->disarm())
        return;
    // Gone with the connection.
    watchdog_ = nullptr;
    session_.abandon_connection();
    raise_with_reason(error_, timed_out_reason(session_.timeout_seconds_));
}

void Session::set_proxy(std::wstring proxy)
{
    if (trim_spaces(proxy).empty())
        proxy_.reset();
    else
        proxy_ = std::move(proxy);
}

void Session::open()
{
    if (connected_)
        return;
    if (trim_spaces(url_).empty())
        raise(errors::url_not_set);
    if (trim_spaces(username_).empty())
        raise(errors::username_not_set);

    // The user name and password go on the wire as USER and PASS, the URL
    // as the host name.
    const WireText url = login_text(url_, L"URL");
    const WireText username = login_text(username_, L"user name");
    const WireText password = login_text(password_, L"password");
    const WireText proxy = login_text(proxy_.value_or(std::wstring()), L"proxy");
    const DWORD timeout = static_cast<DWORD>(timeout_seconds_) * 1000;
    const PlatformStep step;
    last_reply_code_ = 0;
    InternetHandle session(
        platform().InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, proxy_ ? proxy.ansi() : nullptr, nullptr, 0));
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
    InternetHandle connection(platform().InternetConnectA(session.get(), url.ansi(), static_cast<INTERNET_PORT>(port_),
                                                          username.ansi(), password.ansi(), INTERNET_SERVICE_FTP,
                                                          connection_flags_, 0));
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
        last_reply_code_ = reply_code(last_response_text());
        raise_platform_error(errors::open_connection, code, L"OpenConnection");
    }
    if (utf8_) {
        // FEAT and OPTS wait on the server as any command does.
        Watchdog negotiation_watchdog(connection.get(), timeout + watchdog_grace_milliseconds);
        std::exception_ptr refusal;
        try {
            agree_on_utf8(connection.get(), transfer_flags());
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
    connection_encoding_ = utf8_ ? NameEncoding::utf8 : NameEncoding::ansi;
    last_reply_code_ = reply_code(last_response_text());
    watchdog_ = std::make_unique<Watchdog>(connection.get(), timeout, false);
    session_ = std::move(session);
    connection_ = std::move(connection);
    connected_ = true;
}

NameEncoding Session::name_encoding() const
{
    if (connected_)
        return connection_encoding_;
    return utf8_ ? NameEncoding::utf8 : NameEncoding::ansi;
}

WireText Session::wire(std::wstring_view text, const ErrorCode& error, std::wstring_view what) const
{
    return WireText(text, name_encoding(), error, what);
}

std::wstring Session::text_of_wire(std::string_view bytes) const
{
    return wire_text_of(bytes, name_encoding());
}

void Session::close()
{
    if (!connected_)
        return;
    watchdog_.reset();
    if (!connection_.close()) {
        // Still connected, so its waits stay bounded.
        const auto code = static_cast<LONG>(platform().GetLastError());
        watchdog_ = std::make_unique<Watchdog>(connection_.get(), static_cast<DWORD>(timeout_seconds_) * 1000, false);
        raise_platform_error(errors::close_connection, code, L"CloseConnection");
    }
    // With its connection gone the session is no use: disconnected even if
    // it will not close, so that open works again. The handle stays held
    // and is closed again when replaced or released.
    connected_ = false;
    if (!session_.close())
        raise_platform_failure(errors::close_connection, L"CloseConnection");
}

}  // namespace corvane::ftp
