#pragma once
// The host's interfaces generated from asp_host.idl. They redeclare the
// platform's ASP interfaces, so asptlb.h must stay out of any file that
// includes this one.

#include "frame/win32.h"

#include "asp_host_h.h"
