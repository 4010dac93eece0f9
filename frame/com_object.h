#pragma once
// The one reference-counting base of every object of ours: the exact count
// and QueryInterface over the interfaces it lists. The first interface
// answers for IUnknown, and for IDispatch when it is a dual one.

#include "frame/com_ptr.h"
#include "frame/win32.h"

#include <type_traits>
#include <utility>

namespace corvane {

template <class Primary, class... Others>
class ComObject : public Primary, public Others... {
public:
    using PrimaryInterface = Primary;

    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interface_id, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = find_interface(interface_id);
        if (!*object)
            return E_NOINTERFACE;
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

protected:
    ComObject() = default;
    virtual ~ComObject() = default;

private:
    void* find_interface(REFIID interface_id)
    {
        if (interface_id == IID_IUnknown || interface_id == __uuidof(Primary))
            return static_cast<Primary*>(this);
        if constexpr (std::is_base_of_v<IDispatch, Primary>) {
            if (interface_id == IID_IDispatch)
                return static_cast<Primary*>(this);
        }
        void* found = nullptr;
        ((found = found ? found : (interface_id == __uuidof(Others) ? static_cast<Others*>(this) : nullptr)), ...);
        return found;
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
