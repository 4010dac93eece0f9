#pragma once
// Arguments as scripts pass them (by reference, missing, numbers of any
// type) and results as they expect them.

#include "frame/com_ptr.h"
#include "frame/error.h"
#include "frame/win32.h"

#include <optional>
#include <string>
#include <vector>

namespace corvane::asp_host {

// The value behind any by-reference indirection.
Variant plain(const VARIANT& argument);

// An optional argument the caller left out.
bool is_missing(const VARIANT& value);

// A numeric value as a 1-based index; nothing for any other type.
std::optional<long> index_of(const VARIANT& value);

// Raises E_POINTER for a missing out-parameter and clears a present one.
template <class Pointer>
void check_out(Pointer* out)
{
    if (!out)
        throw ComponentError(E_POINTER, {}, {});
    *out = Pointer{};
}

inline void check_out(VARIANT* out)
{
    if (!out)
        throw ComponentError(E_POINTER, {}, {});
    VariantInit(out);
}

void set_variant_object(VARIANT* out, IDispatch* object);

// For Each over these texts: a snapshot taken when the loop starts.
void set_enumerator(IUnknown** out, std::vector<std::wstring> items);

}  // namespace corvane::asp_host
