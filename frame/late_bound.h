#pragma once
// Calls through IDispatch by name or id, as a script makes them. A failure
// comes back as the callee reported it: number, source and description.

#include "frame/com_ptr.h"
#include "frame/win32.h"

#include <span>
#include <string_view>

namespace corvane {

DISPID dispatch_id_of(IDispatch* object, std::wstring_view name);

// Arguments in the order a script writes them.
Variant invoke(IDispatch* object, DISPID id, WORD flags, std::span<VARIANT> arguments = {});

inline Variant get_property(IDispatch* object, std::wstring_view name)
{
    return invoke(object, dispatch_id_of(object, name), DISPATCH_PROPERTYGET);
}

inline Variant call_method(IDispatch* object, std::wstring_view name, std::span<VARIANT> arguments = {})
{
    return invoke(object, dispatch_id_of(object, name), DISPATCH_METHOD | DISPATCH_PROPERTYGET, arguments);
}

}  // namespace corvane
