#include "frame/keyed_collection.h"

#include "frame/error.h"
#include "frame/text.h"

namespace corvane {

namespace {

// The index itself when it is a number or text; an object's default value.
Variant plain_index(const VARIANT& index)
{
    Variant plain;
    check_com(VariantCopyInd(plain.get(), const_cast<VARIANT*>(&index)));
    if (V_VT(plain.get()) == VT_DISPATCH) {
        Variant value;
        if (FAILED(VariantChangeType(value.get(), plain.get(), 0, VT_BSTR)) &&
            FAILED(VariantChangeType(value.get(), plain.get(), 0, VT_R8)))
            raise_runtime_error(RuntimeError::type_mismatch);
        return value;
    }
    return plain;
}

bool is_number(VARTYPE type)
{
    switch (type) {
    case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT:
    case VT_R4: case VT_R8: case VT_CY: case VT_DECIMAL: case VT_BOOL:
        return true;
    default:
        return false;
    }
}

}  // namespace

void KeyIndex::add(std::wstring_view key, size_t position)
{
    first_with_key_.try_emplace(fold_case(key), position);
}

size_t KeyIndex::find(const VARIANT& index, size_t size) const
{
    Variant plain = plain_index(index);
    const VARTYPE type = V_VT(plain.get());
    if (type == VT_BSTR) {
        const auto found = first_with_key_.find(fold_case(Bstr::view_of(V_BSTR(plain.get()))));
        if (found == first_with_key_.end())
            raise_runtime_error(RuntimeError::invalid_argument);
        return found->second;
    }
    if (!is_number(type))
        raise_runtime_error(RuntimeError::type_mismatch);
    Variant position;
    if (FAILED(VariantChangeType(position.get(), plain.get(), 0, VT_I4)) || V_I4(position.get()) < 1 ||
        static_cast<size_t>(V_I4(position.get())) > size)
        raise_runtime_error(RuntimeError::subscript_out_of_range);
    return static_cast<size_t>(V_I4(position.get())) - 1;
}

}  // namespace corvane
