#pragma once
// Reference counting and QueryInterface for small objects of ours that
// offer one interface besides IUnknown (class objects, enumerators).

#include "frame/win32.h"

namespace corvane {

template <class Interface>
class UnknownObject : public Interface {
public:
    UnknownObject(const UnknownObject&) = delete;
    UnknownObject& operator=(const UnknownObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interface_id, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (interface_id == IID_IUnknown || interface_id == __uuidof(Interface)) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG remaining = InterlockedDecrement(&references_);
        if (remaining == 0)
            delete this;
        return static_cast<ULONG>(remaining);
    }

protected:
    UnknownObject() = default;
    virtual ~UnknownObject() = default;

private:
    LONG references_ = 1;
};

}  // namespace corvane
