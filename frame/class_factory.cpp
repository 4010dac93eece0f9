#include "frame/class_factory.h"

#include <new>

namespace corvane {

namespace {

// Class objects are small and stateless: one per request, counted like any
// other object.
class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(const ComponentClass& component_class) : class_(component_class) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interface_id, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (interface_id == IID_IUnknown || interface_id == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
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

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID interface_id, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        try {
            ComPtr<IUnknown> instance = class_.create();
            return instance->QueryInterface(interface_id, object);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_UNEXPECTED;
        }
    }

    // The module stays loaded once loaded (see DllCanUnloadNow), so there
    // is nothing to lock.
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    ~ClassFactory() = default;

    const ComponentClass& class_;
    LONG references_ = 1;
};

}  // namespace

HRESULT get_class_object(REFCLSID class_id, REFIID interface_id, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    const ComponentClass* component_class = find_component_class(class_id);
    if (!component_class)
        return CLASS_E_CLASSNOTAVAILABLE;
    auto factory = ComPtr<IClassFactory>::adopt(new (std::nothrow) ClassFactory(*component_class));
    if (!factory)
        return E_OUTOFMEMORY;
    return factory->QueryInterface(interface_id, object);
}

}  // namespace corvane
