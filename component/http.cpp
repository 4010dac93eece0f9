// Each member hands its arguments to the HTTP client.

#include "component/http.h"

#include "frame/error.h"
#include "frame/text.h"
#include "frame/variants.h"

#include <cstring>

namespace corvane {

namespace {

constexpr std::wstring_view version = L"1.01.1";

VARIANT_BOOL variant_bool(bool value)
{
    return value ? VARIANT_TRUE : VARIANT_FALSE;
}

// The bytes of a one-dimensional array of bytes, whatever its lower bound.
std::string bytes_of(SAFEARRAY* array)
{
    if (!array || SafeArrayGetDim(array) != 1)
        raise_runtime_error(RuntimeError::type_mismatch);
    LONG lower = 0;
    LONG upper = -1;
    check_com(SafeArrayGetLBound(array, 1, &lower));
    check_com(SafeArrayGetUBound(array, 1, &upper));
    const size_t count = upper >= lower ? static_cast<size_t>(upper - lower) + 1 : 0;
    std::string bytes(count, '\0');
    if (count > 0) {
        void* data = nullptr;
        check_com(SafeArrayAccessData(array, &data));
        std::memcpy(bytes.data(), data, count);
        SafeArrayUnaccessData(array);
    }
    return bytes;
}

}  // namespace

HRESULT HTTP::put_URL(BSTR url)
{
    return member([&] { client_.set_url(Bstr::view_of(url)); });
}

HRESULT HTTP::get_ServerName(VARIANT* result)
{
    return member(result, [&] { set_variant_text(result, client_.server_name()); });
}

HRESULT HTTP::get_Path(VARIANT* result)
{
    return member(result, [&] { set_variant_text(result, client_.path()); });
}

HRESULT HTTP::get_Version(VARIANT* result)
{
    return member(result, [&] { set_variant_text(result, version); });
}

HRESULT HTTP::get_Content(BSTR* result)
{
    return member(result, [&] { *result = client_.content().detach(); });
}

HTTPHeaders& HTTP::headers()
{
    if (!headers_)
        headers_ = make_object<HTTPHeaders>();
    return *headers_.get();
}

HRESULT HTTP::get_Headers(_HTTPHeaders** result)
{
    return member(result, [&] { *result = ComPtr<_HTTPHeaders>::share(&headers()).detach(); });
}

http::Client::HeaderSink HTTP::header_sink()
{
    return [this](std::wstring name, std::wstring value) { headers().add(std::move(name), std::move(value)); };
}

HRESULT HTTP::OpenConnection()
{
    return member([&] { client_.fetch(header_sink()); });
}

HRESULT HTTP::get_StatusCode(LONG* result)
{
    return member(result, [&] { *result = client_.status_code(); });
}

HRESULT HTTP::get_StatusText(BSTR* result)
{
    return member(result, [&] { *result = allocate_bstr(client_.status_text()); });
}

HRESULT HTTP::get_Method(BSTR* result)
{
    return member(result, [&] { *result = allocate_bstr(client_.settings().method); });
}

HRESULT HTTP::put_Method(BSTR method)
{
    return member([&] { client_.set_method(Bstr::view_of(method)); });
}

HRESULT HTTP::get_RequestBody(VARIANT* result)
{
    return member(result, [&] {
        const http::RequestSettings& settings = client_.settings();
        VariantInit(result);
        if (settings.body_bytes)
            set_variant_bytes(result, *settings.body_bytes);
        else if (settings.body_text)
            set_variant_text(result, *settings.body_text);
    });
}

HRESULT HTTP::put_RequestBody(VARIANT body)
{
    return member([&] {
        // Scripts pass variables by reference.
        Variant value;
        check_com(VariantCopyInd(value.put(), &body));
        switch (V_VT(value.get())) {
        case VT_EMPTY:
        case VT_NULL:
            client_.clear_body();
            break;
        case VT_ARRAY | VT_UI1:
        case VT_ARRAY | VT_I1:
            client_.set_body_bytes(bytes_of(V_ARRAY(value.get())));
            break;
        default:
            client_.set_body_text(text_of(*value.get()));
        }
    });
}

HRESULT HTTP::SetRequestHeader(BSTR name, BSTR value)
{
    return member([&] { client_.set_request_header(Bstr::view_of(name), Bstr::view_of(value)); });
}

HRESULT HTTP::ClearRequestHeaders()
{
    return member([&] { client_.clear_request_headers(); });
}

HRESULT HTTP::get_Timeout(LONG* result)
{
    return member(result, [&] { *result = static_cast<LONG>(client_.settings().timeout_seconds); });
}

HRESULT HTTP::put_Timeout(LONG seconds)
{
    return member([&] { client_.set_timeout_seconds(seconds); });
}

HRESULT HTTP::get_ResponseBody(VARIANT* result)
{
    return member(result, [&] {
        VariantInit(result);
        set_variant_bytes(result, client_.response_body());
    });
}

HRESULT HTTP::SaveToFile(BSTR path)
{
    return member([&] { client_.fetch_to_file(header_sink(), Bstr::view_of(path)); });
}

HRESULT HTTP::get_Charset(BSTR* result)
{
    return member(result, [&] { *result = allocate_bstr(client_.settings().charset); });
}

HRESULT HTTP::put_Charset(BSTR charset)
{
    return member([&] { client_.set_charset(Bstr::view_of(charset)); });
}

HRESULT HTTP::get_FollowRedirects(VARIANT_BOOL* result)
{
    return member(result, [&] { *result = variant_bool(client_.settings().follow_redirects); });
}

HRESULT HTTP::put_FollowRedirects(VARIANT_BOOL follow)
{
    return member([&] { client_.set_follow_redirects(follow != VARIANT_FALSE); });
}

HRESULT HTTP::get_FinalURL(BSTR* result)
{
    return member(result, [&] { *result = allocate_bstr(client_.final_url()); });
}

HRESULT HTTP::get_Username(BSTR* result)
{
    return member(result, [&] { *result = allocate_bstr(client_.settings().username); });
}

HRESULT HTTP::put_Username(BSTR username)
{
    return member([&] { client_.set_username(Bstr::view_of(username)); });
}

HRESULT HTTP::get_Password(BSTR* result)
{
    return member(result, [&] { *result = allocate_bstr(client_.settings().password); });
}

HRESULT HTTP::put_Password(BSTR password)
{
    return member([&] { client_.set_password(Bstr::view_of(password)); });
}

HRESULT HTTP::get_Proxy(BSTR* result)
{
    return member(result, [&] { *result = allocate_bstr(client_.settings().proxy); });
}

HRESULT HTTP::put_Proxy(BSTR proxy)
{
    return member([&] { client_.set_proxy(Bstr::view_of(proxy)); });
}

HRESULT HTTP::get_ProxyUsername(BSTR* result)
{
    return member(result, [&] { *result = allocate_bstr(client_.settings().proxy_username); });
}

HRESULT HTTP::put_ProxyUsername(BSTR username)
{
    return member([&] { client_.set_proxy_username(Bstr::view_of(username)); });
}

HRESULT HTTP::get_ProxyPassword(BSTR* result)
{
    return member(result, [&] { *result = allocate_bstr(client_.settings().proxy_password); });
}

HRESULT HTTP::put_ProxyPassword(BSTR password)
{
    return member([&] { client_.set_proxy_password(Bstr::view_of(password)); });
}

HRESULT HTTP::get_IgnoreCertificateErrors(VARIANT_BOOL* result)
{
    return member(result, [&] { *result = variant_bool(client_.settings().ignore_certificate_errors); });
}

HRESULT HTTP::put_IgnoreCertificateErrors(VARIANT_BOOL ignore)
{
    return member([&] { client_.set_ignore_certificate_errors(ignore != VARIANT_FALSE); });
}

HRESULT HTTP::get_MaxResponseSize(LONG* result)
{
    return member(result, [&] { *result = static_cast<LONG>(client_.settings().max_response_size); });
}

HRESULT HTTP::put_MaxResponseSize(LONG bytes)
{
    return member([&] { client_.set_max_response_size(bytes); });
}

std::span<const HTTP::HandedOver> HTTP::handed_over() const
{
    static constexpr HandedOver bodies[] = {{0x68030001, &_HTTP::get_Content, nullptr},
                                            {0x108, nullptr, &_HTTP2::get_ResponseBody}};
    return bodies;
}

HRESULT HTTP::Reset()
{
    return member([&] {
        client_.reset();
        // A script still holding the old collection keeps what it held.
        headers_ = ComPtr<HTTPHeaders>();
    });
}

}  // namespace corvane
