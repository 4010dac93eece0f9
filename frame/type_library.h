#pragma once
// The module holding the component's code (the DLL when shipped, the test
// program when its code is linked into unit tests) and the type library
// embedded in it.

#include "frame/com_ptr.h"
#include "frame/win32.h"

#include <string>

namespace corvane {

HMODULE this_module();

// Full path of that module.
std::wstring module_path();

// The embedded type library, loaded on first use and kept: dispatch and
// registration share it.
ITypeLib& embedded_type_library();

// Type information of one of its interfaces.
ComPtr<ITypeInfo> interface_type_info(REFIID interface_id);

}  // namespace corvane
