#pragma once
// The creatable classes of a module, for its class factory and its
// registration.

#include "frame/com_ptr.h"
#include "frame/win32.h"

#include <span>

namespace corvane {

struct ComponentClass {
    const CLSID& class_id;
    const wchar_t* prog_id;
    ComPtr<IUnknown> (*create)();
};

// The six classes of the component.
std::span<const ComponentClass> component_classes();

}  // namespace corvane
