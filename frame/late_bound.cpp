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
        const HRESULT number = exception.scode ? exception.scode : MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, exception.wCode);
        throw ComponentError(number, std::wstring(source.view()), std::wstring(description.view()));
    }
    check_call(outcome, object, IID_IDispatch);
    return result;
}

}  // namespace corvane
