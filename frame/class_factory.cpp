#include "frame/class_factory.h"

#include "frame/com_object.h"
#include "frame/error.h"

#include <new>

namespace corvane {

namespace {

// Class objects are small and stateless: one per request, counted like any
// other object.
class ClassFactory final : public ComObject<IClassFactory> {
public:
    explicit ClassFactory(const ComponentClass& component_class) : class_(component_class) {}

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
        } catch (...) {
            return hresult_of_current_exception();
        }
    }

    // Modules stay loaded once loaded (see DllCanUnloadNow): nothing to lock.
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    ~ClassFactory() override = default;

    const ComponentClass& class_;
};

}  // namespace

HRESULT get_class_object(std::span<const ComponentClass> classes, REFCLSID class_id, REFIID interface_id,
                         void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    for (const ComponentClass& component_class : classes) {
        if (!IsEqualCLSID(component_class.class_id, class_id))
            continue;
        auto factory = ComPtr<IClassFactory>::adopt(new (std::nothrow) ClassFactory(component_class));
        if (!factory)
            return E_OUTOFMEMORY;
        return factory->QueryInterface(interface_id, object);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

}  // namespace corvane
