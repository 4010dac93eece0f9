#pragma once

#include "frame/dispatch.h"
#include "frame/interfaces.h"

namespace corvane {

// The entries of one remote directory listing, in server order.
class FTPFiles final : public DispatchObject<_FTPFiles> {
public:
    static ComPtr<IUnknown> create();

    HRESULT STDMETHODCALLTYPE Count(LONG* result) override;
    HRESULT STDMETHODCALLTYPE Item(VARIANT var_idx, _FTPFile** result) override;
    HRESULT STDMETHODCALLTYPE NewEnum(IUnknown** result) override;

private:
    ~FTPFiles() override = default;
};

}  // namespace corvane
