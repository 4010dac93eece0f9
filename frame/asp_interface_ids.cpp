// The ASP interface ids are in no import library: defined here, once.

#include "frame/win32.h"

#include <initguid.h>

#include <asptlb.h>
