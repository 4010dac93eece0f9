#pragma once

#include "frame/dispatch.h"
#include "frame/interfaces.h"

namespace corvane {

// Fetches one URL with a GET request.
class HTTP final : public DispatchObject<_HTTP> {
public:
    static ComPtr<IUnknown> create();

    HRESULT STDMETHODCALLTYPE put_URL(BSTR str_URL) override;
    HRESULT STDMETHODCALLTYPE get_ServerName(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE get_Path(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE get_Version(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE get_Content(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE get_Headers(_HTTPHeaders** result) override;
    HRESULT STDMETHODCALLTYPE OpenConnection() override;

private:
    ~HTTP() override = default;
};

}  // namespace corvane
