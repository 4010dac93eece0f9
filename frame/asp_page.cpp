#include "frame/asp_page.h"

#include "frame/error.h"
#include "frame/late_bound.h"
#include "frame/text.h"

namespace corvane {

namespace {

// A property of the context as an object, read by name when the context
// lacks the ASP interface.
ComPtr<IDispatch> context_property(IDispatch* context, const wchar_t* name)
{
    Variant value = get_property(context, name);
    if (V_VT(value.get()) != VT_DISPATCH || !V_DISPATCH(value.get()))
        check_com(DISP_E_TYPEMISMATCH);
    return ComPtr<IDispatch>::share(V_DISPATCH(value.get()));
}

template <class PageObject>
ComPtr<PageObject> as_page_object(IUnknown* object, REFIID interface_id)
{
    ComPtr<PageObject> result;
    check_com(object->QueryInterface(interface_id, reinterpret_cast<void**>(result.put())));
    return result;
}

}  // namespace

void AspPage::bind(IDispatch* scripting_context)
{
    if (!scripting_context)
        check_com(E_POINTER);

    ComPtr<IScriptingContext> context;
    scripting_context->QueryInterface(IID_IScriptingContext, reinterpret_cast<void**>(context.put()));
    if (context) {
        ComPtr<IResponse> response;
        check_call(context->get_Response(response.put()), context.get(), IID_IScriptingContext);
        response_ = as_page_object<IResponse>(response.get(), IID_IResponse);
        ComPtr<IRequest> request;
        check_call(context->get_Request(request.put()), context.get(), IID_IScriptingContext);
        request_ = as_page_object<IRequest>(request.get(), IID_IRequest);
        ComPtr<IServer> server;
        check_call(context->get_Server(server.put()), context.get(), IID_IScriptingContext);
        server_ = as_page_object<IServer>(server.get(), IID_IServer);
        return;
    }
    response_ = as_page_object<IResponse>(context_property(scripting_context, L"Response").get(), IID_IResponse);
    request_ = as_page_object<IRequest>(context_property(scripting_context, L"Request").get(), IID_IRequest);
    server_ = as_page_object<IServer>(context_property(scripting_context, L"Server").get(), IID_IServer);
}

template <class PageObject>
PageObject& AspPage::bound(const ComPtr<PageObject>& object, const wchar_t* name) const
{
    if (!object) {
        raise(not_bound_,
              std::wstring(L"No ASP page is bound, so there is no ") + name + L" object.  " +
                  std::wstring(not_bound_.message));
    }
    return *object.get();
}

IResponse& AspPage::response() const
{
    return bound(response_, L"Response");
}

IRequest& AspPage::request() const
{
    return bound(request_, L"Request");
}

IServer& AspPage::server() const
{
    return bound(server_, L"Server");
}

namespace {

// A classic host hands request items out as string lists whose default
// value is the text (Empty when the key is absent); plain text will do too.
std::wstring item_text(IRequestDictionary* dictionary, std::wstring_view key)
{
    Variant key_value;
    set_variant_text(key_value.put(), key);
    Variant item;
    check_call(dictionary->get_Item(*key_value.get(), item.put()), dictionary, IID_IRequestDictionary);
    if (V_VT(item.get()) == VT_DISPATCH && V_DISPATCH(item.get())) {
        Variant text = invoke(V_DISPATCH(item.get()), DISPID_VALUE, DISPATCH_PROPERTYGET);
        item = std::move(text);
    }
    if (V_VT(item.get()) == VT_EMPTY || V_VT(item.get()) == VT_NULL)
        return {};
    return text_of(*item.get());
}

}  // namespace

std::wstring AspPage::query_string(std::wstring_view key) const
{
    IRequest& page_request = request();
    ComPtr<IRequestDictionary> dictionary;
    check_call(page_request.get_QueryString(dictionary.put()), &page_request, IID_IRequest);
    return item_text(dictionary.get(), key);
}

std::wstring AspPage::form(std::wstring_view key) const
{
    IRequest& page_request = request();
    ComPtr<IRequestDictionary> dictionary;
    check_call(page_request.get_Form(dictionary.put()), &page_request, IID_IRequest);
    return item_text(dictionary.get(), key);
}

std::wstring AspPage::server_variable(std::wstring_view name) const
{
    IRequest& page_request = request();
    ComPtr<IRequestDictionary> dictionary;
    check_call(page_request.get_ServerVariables(dictionary.put()), &page_request, IID_IRequest);
    return item_text(dictionary.get(), name);
}

std::wstring AspPage::url_encode(std::wstring_view text) const
{
    IServer& page_server = server();
    Bstr input(text);
    Bstr encoded;
    check_call(page_server.URLEncode(input.get(), encoded.put()), &page_server, IID_IServer);
    return std::wstring(encoded.view());
}

void AspPage::write(std::wstring_view text) const
{
    IResponse& page_response = response();
    Variant value;
    set_variant_text(value.put(), text);
    check_call(page_response.Write(*value.get()), &page_response, IID_IResponse);
}

}  // namespace corvane
