#pragma once
// The creatable classes of a module, for its class factory and its
// registration.

#include "frame/com_object.h"
#include "frame/com_ptr.h"
#include "frame/win32.h"

#include <span>

namespace corvane {

struct ComponentClass {
    const CLSID& class_id;
    const wchar_t* prog_id;
    ComPtr<IUnknown> (*create)();
};

// A new object of the class, as its class object hands it out.
template <class Object>
ComPtr<IUnknown> create_instance()
{
    // Through the first interface: IUnknown is reached by more than one path.
    return ComPtr<IUnknown>::adopt(static_cast<typename Object::PrimaryInterface*>(make_object<Object>().detach()));
}

}  // namespace corvane
