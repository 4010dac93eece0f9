#include "tools/asp_host/arguments.h"

namespace corvane::asp_host {

Variant plain(const VARIANT& argument)
{
    Variant value;
    check_com(VariantCopyInd(value.get(), const_cast<VARIANT*>(&argument)));
    return value;
}

bool is_missing(const VARIANT& value)
{
    return V_VT(&value) == VT_EMPTY || (V_VT(&value) == VT_ERROR && V_ERROR(&value) == DISP_E_PARAMNOTFOUND);
}

std::optional<long> index_of(const VARIANT& value)
{
    switch (V_VT(&value)) {
    case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT:
    case VT_R4: case VT_R8: case VT_CY: case VT_DECIMAL: {
        Variant number;
        check_com(VariantChangeType(number.get(), const_cast<VARIANT*>(&value), 0, VT_I4));
        return V_I4(number.get());
    }
    default:
        return std::nullopt;
    }
}

void set_variant_object(VARIANT* out, IDispatch* object)
{
    VariantInit(out);
    V_DISPATCH(out) = ComPtr<IDispatch>::share(object).detach();
    V_VT(out) = VT_DISPATCH;
}

}  // namespace corvane::asp_host
