#pragma once
// The base of every class of the component: reference counting, IDispatch
// driven by the type library embedded in this module (case-insensitive
// names, property get/put, the default member, DISPID_NEWENUM), and
// ISupportErrorInfo. A class derives from DispatchObject<_ItsInterface>
// and writes only its own members.

#include "frame/com_ptr.h"
#include "frame/error.h"
#include "frame/win32.h"

#include <utility>

namespace corvane {

// Type information of one of our interfaces, loaded once from the type
// library embedded in the module that holds this code.
ComPtr<ITypeInfo> load_interface_type_info(REFIID interface_id);

template <class Interface>
class DispatchObject : public Interface, public ISupportErrorInfo {
public:
    DispatchObject(const DispatchObject&) = delete;
    DispatchObject& operator=(const DispatchObject&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interface_id, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (interface_id == IID_IUnknown || interface_id == IID_IDispatch || interface_id == __uuidof(Interface)) {
            *object = static_cast<Interface*>(this);
        } else if (interface_id == IID_ISupportErrorInfo) {
            *object = static_cast<ISupportErrorInfo*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG remaining = InterlockedDecrement(&references_);
        if (remaining == 0)
            delete this;
        return static_cast<ULONG>(remaining);
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
        return with_type_info([&](ITypeInfo* info) {
            return info->Invoke(static_cast<Interface*>(this), dispatch_id, flags, parameters, result, exception,
                                argument_error);
        });
    }

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID interface_id) override
    {
        return interface_id == __uuidof(Interface) ? S_OK : S_FALSE;
    }

protected:
    DispatchObject() = default;
    virtual ~DispatchObject() = default;

    // Runs a member body at the COM boundary (see run_member).
    template <class Body>
    HRESULT member(Body&& body) noexcept
    {
        return run_member(__uuidof(Interface), std::forward<Body>(body));
    }

    // This object as its own interface, for calls through its own members.
    Interface* self() { return static_cast<Interface*>(this); }

private:
    template <class Use>
    static HRESULT with_type_info(Use&& use) noexcept
    {
        try {
            static const ComPtr<ITypeInfo> info = load_interface_type_info(__uuidof(Interface));
            return use(info.get());
        } catch (const ComponentError& error) {
            return error.number();
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

    LONG references_ = 1;
};

// A new object of ours, holding the one reference its creator owns.
template <class Object, class... Arguments>
ComPtr<Object> make_object(Arguments&&... arguments)
{
    return ComPtr<Object>::adopt(new Object(std::forward<Arguments>(arguments)...));
}

}  // namespace corvane
