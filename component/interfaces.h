#pragma once
// The interfaces, enumerations and class ids generated from corvane.idl.

#include "frame/win32.h"

#include "corvane_h.h"
