// Connection properties, connect and close.

#include "ftp/session.h"

#include "frame/error.h"
#include "frame/text.h"
#include "ftp/ftp_errors.h"
#include "ftp/native_engine.h"
#include "ftp/wininet_engine.h"
#include "wininet/error_text.h"

namespace corvane::ftp {

namespace {

constexpr LONG longest_timeout_seconds = 24 * 60 * 60;

WireText login_text(std::wstring_view text, std::wstring_view what)
{
    // Sent before any agreement on UTF-8.
    return WireText(text, NameEncoding::ansi, errors::open_connection, what);
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

void Session::set_engine_kind(EngineKind kind)
{
    if (kind != EngineKind::platform && kind != EngineKind::native)
        raise(errors::invalid_engine);
    if (kind == EngineKind::platform && security_ != Security::none)
        raise(errors::platform_without_tls);
    if (connected() && kind != engine_kind())
        raise(errors::engine_while_connected);
    engine_kind_ = kind;
}

void Session::set_security(Security security)
{
    if (security != Security::none && security != Security::explicit_tls && security != Security::implicit_tls)
        raise(errors::invalid_security);
    security_ = security;
}

LONG Session::port() const
{
    constexpr LONG implicit_tls_port = 990;
    return port_.value_or(security_ == Security::implicit_tls ? implicit_tls_port : INTERNET_DEFAULT_FTP_PORT);
}

void Session::set_timeout_seconds(LONG seconds)
{
    if (seconds < 1 || seconds > longest_timeout_seconds)
        raise(errors::invalid_timeout);
    timeout_seconds_ = seconds;
    if (connected())
        engine_->set_timeout_seconds(seconds);
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
    if (connected())
        return;
    if (trim_spaces(url_).empty())
        raise(errors::url_not_set);
    if (trim_spaces(username_).empty())
        raise(errors::username_not_set);

    // The user name and password go on the wire as USER and PASS, the URL
    // as the host name.
    ConnectSettings settings;
    settings.host = login_text(url_, L"URL").ansi();
    settings.username = login_text(username_, L"user name").ansi();
    settings.password = login_text(password_, L"password").ansi();
    settings.proxy = login_text(proxy_.value_or(std::wstring()), L"proxy").ansi();
    settings.has_proxy = proxy_.has_value();
    settings.port = static_cast<INTERNET_PORT>(port());
    settings.security = security_;
    settings.ignore_certificate_errors = ignore_certificate_errors_;
    settings.passive = passive_;
    settings.trust_passive_address = trust_passive_address_;
    settings.utf8 = utf8_;
    settings.timeout_seconds = timeout_seconds_;
    settings.transfer_flags = transfer_flags();
    // An engine that failed to connect holds nothing open; the last one
    // goes first, so that no two connections of one object overlap.
    engine_.reset();
    if (engine_kind() == EngineKind::native)
        engine_ = std::make_unique<NativeEngine>(settings, reply_record_);
    else
        engine_ = std::make_unique<WinInetEngine>(settings, reply_record_);
    connection_encoding_ = utf8_ ? NameEncoding::utf8 : NameEncoding::ansi;
}

void Session::close()
{
    if (connected())
        engine_->close();
}

NameEncoding Session::name_encoding() const
{
    if (connected())
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

Engine& Session::engine(const ErrorCode& error, std::wstring_view procedure)
{
    if (connected())
        return *engine_;
    // As the platform refuses a call without a connection handle; there was
    // no reply to note.
    reply_record_.code = 0;
    raise_platform_error(error, ERROR_INVALID_HANDLE, procedure);
}

std::unique_ptr<RemoteFile> Session::open_file(const WireText& remote_path, Direction direction,
                                               DWORD transfer_flags, unsigned long long offset,
                                               const ErrorCode& error, std::wstring_view procedure)
{
    return engine(error, procedure).open_file(remote_path, direction, transfer_flags, offset, error, procedure);
}

}  // namespace corvane::ftp
