#pragma once
// The six creatable classes, for the class factory and for registration.

#include "frame/com_ptr.h"
#include "frame/win32.h"

#include <span>

namespace corvane {

struct ComponentClass {
    const CLSID& class_id;
    const wchar_t* name;  // the ProgID is "corvane." followed by this
    ComPtr<IUnknown> (*create)();
};

std::span<const ComponentClass> component_classes();

const ComponentClass* find_component_class(REFCLSID class_id);

}  // namespace corvane
