#pragma once
// Calls through IDispatch by name or id, as a script makes them. A failure
// comes back as the callee reported it: number, source and description.

#include "frame/com_ptr.h"
#include "frame/win32.h"

#include <span>
#include <string_view>
#include <vector>

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

// The items a for-each loop over the object visits.
std::vector<Variant> for_each_item(IDispatch* collection);

// A new object from its ProgID, reached through IDispatch.
ComPtr<IDispatch> create_object(const wchar_t* prog_id);

}  // namespace corvane
