#pragma once
// Helpers for calling our objects early-bound in unit tests.

#include "frame/com_ptr.h"
#include "component/interfaces.h"
#include "frame/text.h"

#include <string>

namespace corvane::tests {

// What a failed call left for its caller.
struct RaisedError {
    HRESULT number = S_OK;
    std::wstring source;
    std::wstring description;
};

inline RaisedError error_of(HRESULT result)
{
    RaisedError error{result, {}, {}};
    ComPtr<IErrorInfo> info;
    if (FAILED(result) && GetErrorInfo(0, info.put()) == S_OK && info) {
        Bstr text;
        info->GetSource(text.put());
        error.source = text.view();
        info->GetDescription(text.put());
        error.description = text.view();
    }
    return error;
}

inline Variant text_variant(std::wstring_view text)
{
    Variant value;
    set_variant_text(value.put(), text);
    return value;
}

inline std::wstring take_text(VARIANT& value)
{
    std::wstring text = text_of(value);
    VariantClear(&value);
    return text;
}

inline std::wstring take_text(BSTR text)
{
    Bstr owner;
    *owner.put() = text;
    return std::wstring(owner.view());
}

}  // namespace corvane::tests
