#pragma once

#include "frame/win32.h"

namespace corvane {

HRESULT register_server();
HRESULT unregister_server();

}  // namespace corvane
