#pragma once

#include "frame/class_table.h"
#include "frame/win32.h"

namespace corvane {

// The class object of one of the given classes.
HRESULT get_class_object(std::span<const ComponentClass> classes, REFCLSID class_id, REFIID interface_id,
                         void** object);

}  // namespace corvane
