#pragma once

#include "frame/win32.h"

#include <string>

namespace corvane {

// The module holding the component's code: the DLL when shipped, the test
// program when its code is linked into unit tests.
HMODULE this_module();

// Full path of that module.
std::wstring module_path();

}  // namespace corvane
