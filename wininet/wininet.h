#pragma once
// The one way the component includes WinInet's header: after frame/win32.h,
// whose Windows headers it needs and whose renamed macros it must not bring
// back. The component's own FTP engine (net/, ftpproto/) never sees it.

#include "frame/win32.h"

#include <wininet.h>
