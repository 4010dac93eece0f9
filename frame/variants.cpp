#include "frame/variants.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <new>

namespace corvane {

void set_variant_bytes(VARIANT* out, std::string_view bytes)
{
    VariantInit(out);
    // An array counts its elements in 32 bits.
    if constexpr (sizeof(size_t) > sizeof(ULONG)) {
        if (bytes.size() > std::numeric_limits<ULONG>::max())
            throw std::bad_alloc();
    }
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (!array)
        throw std::bad_alloc();
    if (!bytes.empty()) {
        void* data = nullptr;
        if (FAILED(SafeArrayAccessData(array, &data))) {
            SafeArrayDestroy(array);
            throw std::bad_alloc();
        }
        std::memcpy(data, bytes.data(), bytes.size());
        SafeArrayUnaccessData(array);
    }
    V_VT(out) = VT_ARRAY | VT_UI1;
    V_ARRAY(out) = array;
}

void set_variant_number(VARIANT* out, double value)
{
    VariantInit(out);
    if (value >= -2147483648.0 && value <= 2147483647.0 && std::trunc(value) == value) {
        V_VT(out) = VT_I4;
        V_I4(out) = static_cast<LONG>(value);
    } else {
        V_VT(out) = VT_R8;
        V_R8(out) = value;
    }
}

}  // namespace corvane
