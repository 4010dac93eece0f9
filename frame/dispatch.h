#pragma once
// The base of every class of the component: reference counting, IDispatch
// driven by the type library embedded in this module (case-insensitive
// names, property get/put, the default member, DISPID_NEWENUM), and
// ISupportErrorInfo. A class derives from DispatchObject<_ItsInterface>
// and writes only its own members. An interface derived from a published
// one names its ancestors after it (DispatchObject<_X2, _X>): a client
// built against an ancestor asks for that one and gets the same object.

#include "frame/com_object.h"
#include "frame/error.h"
#include "frame/type_library.h"
#include "frame/win32.h"

#include <span>
#include <type_traits>
#include <utility>

namespace corvane {

template <class Interface, class... Ancestors>
class DispatchObject : public ComObject<Interface, ISupportErrorInfo> {
    static_assert((std::is_base_of_v<Ancestors, Interface> && ...), "an ancestor is a base of the interface");

public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interface_id, void** object) override
    {
        if (object && is_ancestor(interface_id)) {
            *object = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        return ComObject<Interface, ISupportErrorInfo>::QueryInterface(interface_id, object);
    }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** type_info) override
    {
        if (!type_info)
            return E_POINTER;
        *type_info = nullptr;
        if (index != 0)
            return DISP_E_BADINDEX;
        return with_type_info([&](ITypeInfo* info) {
            info->AddRef();
            *type_info = info;
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID reserved, LPOLESTR* names, UINT name_count, LCID,
                                            DISPID* dispatch_ids) override
    {
        if (reserved != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        return with_type_info(
            [&](ITypeInfo* info) { return DispGetIDsOfNames(info, names, name_count, dispatch_ids); });
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispatch_id, REFIID reserved, LCID, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argument_error) override
    {
        if (reserved != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        // Anything but a plain read goes the type information's way, which
        // checks arguments and flags as it always has.
        if ((flags & DISPATCH_PROPERTYGET) && parameters && parameters->cArgs == 0 && parameters->cNamedArgs == 0) {
            for (const HandedOver& property : handed_over())
                if (property.id == dispatch_id)
                    return hand_over(property, result, exception);
        }
        return with_type_info([&](ITypeInfo* info) {
            return info->Invoke(static_cast<Interface*>(this), dispatch_id, flags, parameters, result, exception,
                                argument_error);
        });
    }

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID interface_id) override
    {
        return interface_id == __uuidof(Interface) || is_ancestor(interface_id) ? S_OK : S_FALSE;
    }

protected:
    DispatchObject() = default;
    ~DispatchObject() override = default;

    // A property whose value may be too large to exist twice: the type
    // information's Invoke copies what a getter returns into the caller's
    // VARIANT before freeing its own, so a body's text is held twice at once,
    // and a copy that cannot be made reached scripts as an empty value with
    // no error. The base reads these itself and moves the value over. One
    // of the two getters is set.
    struct HandedOver {
        DISPID id;
        HRESULT (STDMETHODCALLTYPE Interface::*text)(BSTR*);
        HRESULT (STDMETHODCALLTYPE Interface::*variant)(VARIANT*);
    };
    virtual std::span<const HandedOver> handed_over() const { return {}; }

    // Runs a member body at the COM boundary (see run_member).
    template <class Body>
    HRESULT member(Body&& body) noexcept
    {
        return run_member(__uuidof(Interface), std::forward<Body>(body));
    }

    // The same for a member that answers through an out-pointer. A caller
    // bound early may pass NULL, which the type information's checks never
    // see: it gets E_POINTER, as from IDispatch's own members, and no
    // stale error info.
    template <class Out, class Body>
    HRESULT member(Out* out, Body&& body) noexcept
    {
        if (!out) {
            SetErrorInfo(0, nullptr);
            return E_POINTER;
        }
        return member(std::forward<Body>(body));
    }

private:
    static bool is_ancestor(REFIID interface_id) { return ((interface_id == __uuidof(Ancestors)) || ...); }

    HRESULT hand_over(const HandedOver& property, VARIANT* result, EXCEPINFO* exception)
    {
        Interface* self = static_cast<Interface*>(this);
        VARIANT value;
        VariantInit(&value);
        HRESULT outcome = S_OK;
        if (property.text) {
            BSTR text = nullptr;
            outcome = (self->*property.text)(&text);
            V_VT(&value) = VT_BSTR;
            V_BSTR(&value) = text;
        } else {
            outcome = (self->*property.variant)(&value);
        }
        if (FAILED(outcome)) {
            VariantClear(&value);
            return exception_of(outcome, exception);
        }
        if (result)
            *result = value;
        else
            VariantClear(&value);
        return S_OK;
    }

    // A member's failure as the type information's Invoke reports it: the
    // number and the thread's error info in the exception, if asked for.
    static HRESULT exception_of(HRESULT outcome, EXCEPINFO* exception)
    {
        if (exception) {
            *exception = EXCEPINFO{};
            exception->scode = outcome;
            IErrorInfo* info = nullptr;
            if (GetErrorInfo(0, &info) == S_OK && info) {
                info->GetSource(&exception->bstrSource);
                info->GetDescription(&exception->bstrDescription);
                info->GetHelpFile(&exception->bstrHelpFile);
                info->GetHelpContext(&exception->dwHelpContext);
                info->Release();
            }
        }
        return DISP_E_EXCEPTION;
    }

    template <class Use>
    static HRESULT with_type_info(Use&& use) noexcept
    {
        try {
            static const ComPtr<ITypeInfo> info = interface_type_info(__uuidof(Interface));
            return use(info.get());
        } catch (...) {
            return hresult_of_current_exception();
        }
    }
};

}  // namespace corvane
