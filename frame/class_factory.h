#pragma once

#include "frame/classes.h"
#include "frame/win32.h"

namespace corvane {

// The class object of one of our classes.
HRESULT get_class_object(REFCLSID class_id, REFIID interface_id, void** object);

}  // namespace corvane
