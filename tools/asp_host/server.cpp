// Server: the encoders, object creation, and MapPath inside the served
// folder (a test page's is the current one). Other pages are not reachable.

#include "tools/asp_host/arguments.h"
#include "tools/asp_host/page_objects.h"

#include "frame/late_bound.h"
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
        ComPtr<IDispatch> object;
        check_com(CoCreateInstance(class_id, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                   reinterpret_cast<void**>(object.put())));
        if (state_->start_created_objects && state_->context) {
            // A classic host hands the page's context to OnStartPage when
            // the object has one, and fails the creation when it fails.
            DISPID id = DISPID_UNKNOWN;
            LPOLESTR name = const_cast<LPOLESTR>(L"OnStartPage");
            if (SUCCEEDED(object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id))) {
                Variant context;
                V_VT(context.get()) = VT_DISPATCH;
                V_DISPATCH(context.get()) = ComPtr<IDispatch>(state_->context).detach();
                invoke(object.get(), id, DISPATCH_METHOD, std::span<VARIANT>(context.get(), 1));
                state_->started_objects.push_back(object);
            }
        }
        *ppDispObject = object.detach();
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

HRESULT Server::MapPath(BSTR bstrLogicalPath, BSTR* pbstrPhysicalPath)
{
    return member([&] {
        check_out(pbstrPhysicalPath);
        state_->enter(L"Server", L"MapPath");
        // A test page is a page at the root of a site in the current folder.
        std::wstring root = state_->site_root;
        if (root.empty()) {
            root.resize(MAX_PATH * 8);
            const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(root.size()), root.data());
            if (length == 0 || length >= root.size())
                check_com(HRESULT_FROM_WIN32(::GetLastError()));
            root.resize(length);
        }
        const std::optional<std::wstring> path =
            map_site_path(root, state_->script_path, Bstr::view_of(bstrLogicalPath));
        if (!path)
            throw ComponentError(E_INVALIDARG, L"Server object",
                                 L"The path is not inside the site: " + std::wstring(Bstr::view_of(bstrLogicalPath)));
        *pbstrPhysicalPath = allocate_bstr(*path);
    });
}
// A path part of a URL: the ANSI bytes of the text, %-escaped but for
// letters, digits and the characters a path may hold as they are.
HRESULT Server::URLPathEncode(BSTR bstrIn, BSTR* pbstrEncoded)
{
    return member([&] {
        check_out(pbstrEncoded);
        state_->enter(L"Server", L"URLPathEncode");
        static constexpr char digits[] = "0123456789ABCDEF";
        static constexpr std::string_view kept = "/:;@&=+$,-_.!~*'()";
        std::wstring encoded;
        for (const char c : ansi_of(Bstr::view_of(bstrIn))) {
            const auto byte = static_cast<unsigned char>(c);
            if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                kept.find(c) != std::string_view::npos) {
                encoded += static_cast<wchar_t>(c);
            } else {
                encoded += L'%';
                encoded += static_cast<wchar_t>(digits[byte >> 4]);
                encoded += static_cast<wchar_t>(digits[byte & 15]);
            }
        }
        *pbstrEncoded = allocate_bstr(encoded);
    });
}

// Other pages are not reachable from a page of this host, and errors
// reach the client as the server's own error page.
HRESULT Server::Execute(BSTR) { return E_NOTIMPL; }
HRESULT Server::Transfer(BSTR) { return E_NOTIMPL; }
HRESULT Server::GetLastError(IDispatch**) { return E_NOTIMPL; }

}  // namespace corvane::asp_host
