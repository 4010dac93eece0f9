#pragma once
// Registration of a module's classes and of the type library embedded in
// it, as DllRegisterServer and DllUnregisterServer do it.

#include "frame/class_table.h"
#include "frame/win32.h"

namespace corvane {

HRESULT register_server(std::span<const ComponentClass> classes);
HRESULT unregister_server(std::span<const ComponentClass> classes);

}  // namespace corvane
