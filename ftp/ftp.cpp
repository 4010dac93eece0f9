// The FTP session: connection properties, connect and disconnect, and the
// binding to an ASP page.

#include "ftp/ftp.h"

#include "frame/error_text.h"
#include "frame/platform.h"
#include "frame/text.h"
#include "frame/timeouts.h"

namespace corvane {

namespace {

constexpr std::wstring_view ftp_version = L"1.01.2";
constexpr LPCSTR ftp_agent = "Corvane FTP";
constexpr DWORD passive_flag = INTERNET_FLAG_PASSIVE;

constexpr HRESULT invalid_port_error = static_cast<HRESULT>(0x80040201);
constexpr HRESULT open_connection_error = static_cast<HRESULT>(0x80040202);
constexpr HRESULT close_connection_error = static_cast<HRESULT>(0x8004020a);
constexpr HRESULT property_not_set_error = static_cast<HRESULT>(0x8004020b);
constexpr std::wstring_view open_connection_message = L"Error opening FTP connection.";

WireText login_text(std::wstring_view text, std::wstring_view what)
{
    return WireText(text, open_connection_error, open_connection_message, what);
}

}  // namespace

ComPtr<IUnknown> FTP::create()
{
    return ComPtr<IUnknown>::adopt(static_cast<_FTP*>(make_object<FTP>().detach()));
}

FTP::~FTP()
{
    // Nobody is left to hear about a failed close.
    try {
        close_connection();
    } catch (...) {
    }
}

HRESULT FTP::OnStartPage(IDispatch* FTPScriptingContext, VARIANT* result)
{
    return member([&] {
        VariantInit(result);
        page.bind(FTPScriptingContext);
    });
}

HRESULT FTP::get_Version(VARIANT* result)
{
    return member([&] { set_variant_text(result, ftp_version); });
}

HRESULT FTP::put_URL(VARIANT str_URL)
{
    return member([&] { str_url = text_of(str_URL); });
}

HRESULT FTP::get_URL(VARIANT* result)
{
    return member([&] { set_variant_text(result, str_url); });
}

HRESULT FTP::put_Username(VARIANT username)
{
    return member([&] { str_username = text_of(username); });
}

HRESULT FTP::get_Username(VARIANT* result)
{
    return member([&] { set_variant_text(result, str_username); });
}

HRESULT FTP::put_Password(VARIANT password)
{
    return member([&] { str_password = text_of(password); });
}

HRESULT FTP::get_Password(VARIANT* result)
{
    return member([&] { set_variant_text(result, str_password); });
}

HRESULT FTP::put_Port(LONG port)
{
    return member([&] {
        // The platform takes an unsigned 16-bit port.
        if (port < 1 || port > 65535)
            raise(invalid_port_error, ftp_source, L"The port number that you entered is invalid");
        lng_port = port;
    });
}

HRESULT FTP::get_Port(LONG* result)
{
    return member([&] { *result = lng_port; });
}

HRESULT FTP::put_Proxy(VARIANT proxy)
{
    return member([&] {
        std::wstring text = text_of(proxy);
        if (trim_spaces(text).empty())
            str_proxy.reset();
        else
            str_proxy = std::move(text);
    });
}

HRESULT FTP::get_Proxy(VARIANT* result)
{
    return member([&] { set_variant_text(result, str_proxy.value_or(std::wstring())); });
}

HRESULT FTP::put_Passive(VARIANT_BOOL passive)
{
    return member([&] { lng_connection_flags = passive ? passive_flag : 0; });
}

HRESULT FTP::get_Passive(VARIANT_BOOL* result)
{
    return member([&] { *result = lng_connection_flags == passive_flag ? VARIANT_TRUE : VARIANT_FALSE; });
}

HRESULT FTP::put_TransferType(Ftp_Transfer_Type transfer_type)
{
    return member([&] {
        if (transfer_type == TransferASCII || transfer_type == TransferBinary)
            lng_transfer_type = transfer_type;
    });
}

HRESULT FTP::OpenConnection()
{
    return member([&] {
        if (bool_connected)
            return;
        if (trim_spaces(str_url).empty())
            raise(property_not_set_error, ftp_source, L"Needed Property not set.  URL");
        if (trim_spaces(str_username).empty())
            raise(property_not_set_error, ftp_source, L"Needed Parameter not set.  Username");

        // The user name and password go on the wire as USER and PASS, the
        // URL as the host name.
        const WireText url = login_text(str_url, L"URL");
        const WireText username = login_text(str_username, L"user name");
        const WireText password = login_text(str_password, L"password");
        const WireText proxy = login_text(str_proxy.value_or(std::wstring()), L"proxy");
        const PlatformStep step;
        InternetHandle session(platform().InternetOpenA(ftp_agent, INTERNET_OPEN_TYPE_PRECONFIG,
                                                        str_proxy ? proxy.ansi() : nullptr, nullptr, 0));
        // Reported here, with the session's own reason: a connect without a
        // session would only say that the handle is missing. The timeouts are
        // set before the connect: the connection made from the session, its
        // login and its transfers take the session's values with them.
        if (!session || !set_timeouts(session.get(), ftp_timeout_options))
            raise_platform_failure(open_connection_error, ftp_source, open_connection_message, L"OpenConnection");
        InternetHandle connection(platform().InternetConnectA(session.get(), url.ansi(),
                                                              static_cast<INTERNET_PORT>(lng_port), username.ansi(),
                                                              password.ansi(), INTERNET_SERVICE_FTP,
                                                              lng_connection_flags, 0));
        if (!connection) {
            // The session goes with the raise: nothing stays open, and the
            // next OpenConnection starts over.
            raise_platform_failure(open_connection_error, ftp_source, open_connection_message, L"OpenConnection");
        }
        lng_session_handle = std::move(session);
        lng_connection_handle = std::move(connection);
        bool_connected = true;
    });
}

HRESULT FTP::CloseConnection()
{
    return member([&] { close_connection(); });
}

void FTP::close_connection()
{
    if (!bool_connected)
        return;
    if (!lng_connection_handle.close())
        raise_platform_failure(close_connection_error, ftp_source, L"Error closing connection to remote server.",
                               L"CloseConnection");
    // With its connection gone the session is no use: disconnected even if
    // it will not close, so that OpenConnection works again. The handle
    // stays held and is closed again when replaced or released.
    bool_connected = false;
    if (!lng_session_handle.close())
        raise_platform_failure(close_connection_error, ftp_source, L"Error closing connection to remote server.",
                               L"CloseConnection");
}


}  // namespace corvane
