#include "frame/late_bound.h"

#include "frame/error.h"

#include <string>
#include <vector>

namespace corvane {

DISPID dispatch_id_of(IDispatch* object, std::wstring_view name)
{
    std::wstring text(name);
    LPOLESTR names[] = {text.data()};
    DISPID id = DISPID_UNKNOWN;
    check_call(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), object, IID_IDispatch);
    return id;
}

Variant invoke(IDispatch* object, DISPID id, WORD flags, std::span<VARIANT> arguments)
{
    std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
    DISPPARAMS parameters{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    EXCEPINFO exception{};
    Variant result;
    const HRESULT outcome =
        object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters, result.put(), &exception, nullptr);
    if (outcome == DISP_E_EXCEPTION) {
        if (exception.pfnDeferredFillIn)
            exception.pfnDeferredFillIn(&exception);
        Bstr source, description, help_file;
        *source.put() = exception.bstrSource;
        *description.put() = exception.bstrDescription;
        *help_file.put() = exception.bstrHelpFile;
        const HRESULT number =
            exception.scode ? exception.scode : MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, exception.wCode);
        throw ComponentError(number, std::wstring(source.view()), std::wstring(description.view()));
    }
    check_call(outcome, object, IID_IDispatch);
    return result;
}

std::vector<Variant> for_each_item(IDispatch* collection)
{
    Variant enumerator_value = invoke(collection, DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
    const VARTYPE type = V_VT(enumerator_value.get());
    if ((type != VT_UNKNOWN && type != VT_DISPATCH) || !V_UNKNOWN(enumerator_value.get()))
        check_com(DISP_E_TYPEMISMATCH);
    ComPtr<IEnumVARIANT> enumerator =
        ComPtr<IUnknown>::share(V_UNKNOWN(enumerator_value.get())).query<IEnumVARIANT>();
    if (!enumerator)
        check_com(E_NOINTERFACE);
    std::vector<Variant> items;
    for (;;) {
        Variant item;
        ULONG fetched = 0;
        const HRESULT result = enumerator->Next(1, item.put(), &fetched);
        check_com(result);
        if (result != S_OK || fetched == 0)
            return items;
        items.push_back(std::move(item));
    }
}

ComPtr<IDispatch> create_object(const wchar_t* prog_id)
{
    CLSID class_id{};
    check_com(CLSIDFromProgID(prog_id, &class_id));
    ComPtr<IDispatch> object;
    check_com(CoCreateInstance(class_id, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                               reinterpret_cast<void**>(object.put())));
    return object;
}

}  // namespace corvane
