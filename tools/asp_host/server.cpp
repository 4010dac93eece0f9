// Server: the encoders and object creation. Nothing maps to a site, so the
// members about paths and other pages are not offered.

#include "tools/asp_host/arguments.h"
#include "tools/asp_host/page_objects.h"

#include "frame/text.h"

namespace corvane::asp_host {

HRESULT Server::get_ScriptTimeout(LONG* plTimeoutSeconds)
{
    return member([&] {
        check_out(plTimeoutSeconds);
        state_->enter(L"Server", L"ScriptTimeout");
        *plTimeoutSeconds = state_->script_timeout;
    });
}

HRESULT Server::put_ScriptTimeout(LONG lTimeoutSeconds)
{
    return member([&] {
        state_->enter(L"Server", L"ScriptTimeout");
        state_->script_timeout = lTimeoutSeconds;
    });
}

HRESULT Server::CreateObject(BSTR bstrProgID, IDispatch** ppDispObject)
{
    return member([&] {
        check_out(ppDispObject);
        state_->enter(L"Server", L"CreateObject");
        CLSID class_id{};
        check_com(CLSIDFromProgID(Bstr::view_of(bstrProgID).data(), &class_id));
        check_com(CoCreateInstance(class_id, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                   reinterpret_cast<void**>(ppDispObject)));
    });
}

HRESULT Server::HTMLEncode(BSTR bstrIn, BSTR* pbstrEncoded)
{
    return member([&] {
        check_out(pbstrEncoded);
        state_->enter(L"Server", L"HTMLEncode");
        std::wstring encoded;
        for (const wchar_t c : Bstr::view_of(bstrIn)) {
            switch (c) {
            case L'<': encoded += L"&lt;"; break;
            case L'>': encoded += L"&gt;"; break;
            case L'&': encoded += L"&amp;"; break;
            case L'"': encoded += L"&quot;"; break;
            default:
                if (c >= 160 && c <= 255)
                    encoded += L"&#" + std::to_wstring(static_cast<int>(c)) + L";";
                else
                    encoded += c;
            }
        }
        *pbstrEncoded = allocate_bstr(encoded);
    });
}

HRESULT Server::URLEncode(BSTR bstrIn, BSTR* pbstrEncoded)
{
    return member([&] {
        check_out(pbstrEncoded);
        state_->enter(L"Server", L"URLEncode");
        *pbstrEncoded = allocate_bstr(url_encode(Bstr::view_of(bstrIn)));
    });
}

HRESULT Server::MapPath(BSTR, BSTR*) { return E_NOTIMPL; }
HRESULT Server::URLPathEncode(BSTR, BSTR*) { return E_NOTIMPL; }
HRESULT Server::Execute(BSTR) { return E_NOTIMPL; }
HRESULT Server::Transfer(BSTR) { return E_NOTIMPL; }
HRESULT Server::GetLastError(IDispatch**) { return E_NOTIMPL; }

}  // namespace corvane::asp_host
