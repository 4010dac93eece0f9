#pragma once

#include "frame/dispatch.h"
#include "frame/interfaces.h"

namespace corvane {

// The header lines of the responses an HTTP object received.
class HTTPHeaders final : public DispatchObject<_HTTPHeaders> {
public:
    static ComPtr<IUnknown> create();

    HRESULT STDMETHODCALLTYPE Count(LONG* result) override;
    HRESULT STDMETHODCALLTYPE Item(VARIANT var_idx, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE NewEnum(IUnknown** result) override;

private:
    ~HTTPHeaders() override = default;
};

}  // namespace corvane
