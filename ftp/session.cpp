// Connection properties, connect and close.

#include "ftp/session.h"

#include "frame/error.h"
#include "frame/error_text.h"
#include "frame/platform.h"
#include "frame/text.h"
#include "frame/timeouts.h"
#include "ftp/ftp_errors.h"

namespace corvane::ftp {

namespace {

constexpr LPCSTR agent = "Corvane FTP";

// The plain send and receive options bound the control channel only.
constexpr DWORD timeout_options[] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                                     INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT,
                                     INTERNET_OPTION_DATA_RECEIVE_TIMEOUT};

WireText login_text(std::wstring_view text, std::wstring_view what)
{
    return WireText(text, errors::open_connection, what);
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
    const PlatformStep step;
    InternetHandle session(
        platform().InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, proxy_ ? proxy.ansi() : nullptr, nullptr, 0));
    // Reported here, with the session's own reason: a connect without a
    // session would only say that the handle is missing. The timeouts are
    // set before the connect: the connection made from the session, its
    // login and its transfers take the session's values with them.
    if (!session || !set_timeouts(session.get(), timeout_options))
        raise_platform_failure(errors::open_connection, L"OpenConnection");
    InternetHandle connection(platform().InternetConnectA(session.get(), url.ansi(), static_cast<INTERNET_PORT>(port_),
                                                          username.ansi(), password.ansi(), INTERNET_SERVICE_FTP,
                                                          connection_flags_, 0));
    // The session goes with the raise: nothing stays open, and the next
    // open starts over.
    if (!connection)
        raise_platform_failure(errors::open_connection, L"OpenConnection");
    session_ = std::move(session);
    connection_ = std::move(connection);
    connected_ = true;
}

void Session::close()
{
    if (!connected_)
        return;
    if (!connection_.close())
        raise_platform_failure(errors::close_connection, L"CloseConnection");
    // With its connection gone the session is no use: disconnected even if
    // it will not close, so that open works again. The handle stays held
    // and is closed again when replaced or released.
    connected_ = false;
    if (!session_.close())
        raise_platform_failure(errors::close_connection, L"CloseConnection");
}

}  // namespace corvane::ftp
