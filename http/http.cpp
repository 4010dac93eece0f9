#include "http/http.h"

#include "frame/text.h"

namespace corvane {

ComPtr<IUnknown> HTTP::create()
{
    return ComPtr<IUnknown>::adopt(static_cast<_HTTP*>(make_object<HTTP>().detach()));
}

namespace {

constexpr std::wstring_view http_version = L"1.01.1";

}  // namespace

HRESULT HTTP::get_Version(VARIANT* result)
{
    return member([&] { set_variant_text(result, http_version); });
}

// Members whose behaviour is not built yet.
HRESULT HTTP::put_URL(BSTR) { return not_built_yet(); }
HRESULT HTTP::get_ServerName(VARIANT*) { return not_built_yet(); }
HRESULT HTTP::get_Path(VARIANT*) { return not_built_yet(); }
HRESULT HTTP::get_Content(BSTR*) { return not_built_yet(); }
HRESULT HTTP::get_Headers(_HTTPHeaders**) { return not_built_yet(); }
HRESULT HTTP::OpenConnection() { return not_built_yet(); }

}  // namespace corvane
