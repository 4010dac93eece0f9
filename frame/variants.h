#pragma once
// Values handed to automation callers in VARIANTs, in the forms scripts
// read them in.

#include "frame/win32.h"

#include <string_view>

namespace corvane {

// A one-dimensional array of bytes (VT_ARRAY | VT_UI1) holding a copy of the
// bytes, for [out, retval] VARIANTs and for the host's BinaryWrite.
void set_variant_bytes(VARIANT* out, std::string_view bytes);

// A number as scripts have always seen sizes: a Long while it is whole and
// one fits it, a Double beyond.
void set_variant_number(VARIANT* out, double value);

}  // namespace corvane
