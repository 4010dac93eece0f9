#pragma once
// One entry of a layer's error catalogue: the number and source a script
// sees in Err, and the message the description starts with.

#include "frame/win32.h"

#include <string_view>

namespace corvane {

struct ErrorCode {
    HRESULT number;
    std::wstring_view source;
    std::wstring_view message;
};

// A catalogue number as written, 0x8004...: the HRESULT of its bits.
constexpr HRESULT error_number(unsigned long bits)
{
    return static_cast<HRESULT>(bits);
}

// The script runtime's own errors (Err.Number 5, 6, 9, ...), which
// collections raise as any automation collection does.
enum class RuntimeError : int {
    invalid_argument = 5,
    overflow = 6,
    subscript_out_of_range = 9,
    type_mismatch = 13,
};

// The HRESULT under which a runtime error reaches a script.
constexpr HRESULT runtime_error_number(RuntimeError error)
{
    return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, static_cast<int>(error));
}

}  // namespace corvane
