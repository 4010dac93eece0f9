#pragma once

#include "component/http_headers.h"
#include "component/interfaces.h"
#include "frame/dispatch.h"
#include "http/client.h"

namespace corvane {

// Fetches one URL with a GET request, as scripts see it.
class HTTP final : public DispatchObject<_HTTP> {
public:
    HRESULT STDMETHODCALLTYPE put_URL(BSTR url) override;
    HRESULT STDMETHODCALLTYPE get_ServerName(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE get_Path(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE get_Version(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE get_Content(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE get_Headers(_HTTPHeaders** result) override;
    HRESULT STDMETHODCALLTYPE OpenConnection() override;

private:
    ~HTTP() override = default;

    // Made on first use; every response's lines are added to it.
    HTTPHeaders& headers();

    http::Client client_;
    ComPtr<HTTPHeaders> headers_;
};

}  // namespace corvane
