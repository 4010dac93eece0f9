// Each member hands its arguments to the HTTP client.

#include "component/http.h"

#include "frame/text.h"

namespace corvane {

namespace {

constexpr std::wstring_view version = L"1.01.1";

}  // namespace

HRESULT HTTP::put_URL(BSTR url)
{
    return member([&] { client_.set_url(Bstr::view_of(url)); });
}

HRESULT HTTP::get_ServerName(VARIANT* result)
{
    return member([&] { set_variant_text(result, client_.server_name()); });
}

HRESULT HTTP::get_Path(VARIANT* result)
{
    return member([&] { set_variant_text(result, client_.path()); });
}

HRESULT HTTP::get_Version(VARIANT* result)
{
    return member([&] { set_variant_text(result, version); });
}

HRESULT HTTP::get_Content(BSTR* result)
{
    return member([&] { *result = client_.content().detach(); });
}

HTTPHeaders& HTTP::headers()
{
    if (!headers_)
        headers_ = make_object<HTTPHeaders>();
    return *headers_.get();
}

HRESULT HTTP::get_Headers(_HTTPHeaders** result)
{
    return member([&] { *result = ComPtr<_HTTPHeaders>::share(&headers()).detach(); });
}

HRESULT HTTP::OpenConnection()
{
    return member([&] {
        client_.fetch(
            [this](std::wstring name, std::wstring value) { headers().add(std::move(name), std::move(value)); });
    });
}

}  // namespace corvane
