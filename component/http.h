#pragma once

#include "component/http_headers.h"
#include "component/interfaces.h"
#include "frame/dispatch.h"
#include "http/client.h"

namespace corvane {

// Fetches URLs, as scripts see it. Clients built against the first
// interface get the same object through it.
class HTTP final : public DispatchObject<_HTTP2, _HTTP> {
public:
    // _HTTP
    HRESULT STDMETHODCALLTYPE put_URL(BSTR url) override;
    HRESULT STDMETHODCALLTYPE get_ServerName(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE get_Path(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE get_Version(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE get_Content(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE get_Headers(_HTTPHeaders** result) override;
    HRESULT STDMETHODCALLTYPE OpenConnection() override;

    // _HTTP2
    HRESULT STDMETHODCALLTYPE get_StatusCode(LONG* result) override;
    HRESULT STDMETHODCALLTYPE get_StatusText(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE get_Method(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_Method(BSTR method) override;
    HRESULT STDMETHODCALLTYPE get_RequestBody(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE put_RequestBody(VARIANT body) override;
    HRESULT STDMETHODCALLTYPE SetRequestHeader(BSTR name, BSTR value) override;
    HRESULT STDMETHODCALLTYPE ClearRequestHeaders() override;
    HRESULT STDMETHODCALLTYPE get_Timeout(LONG* result) override;
    HRESULT STDMETHODCALLTYPE put_Timeout(LONG seconds) override;
    HRESULT STDMETHODCALLTYPE get_ResponseBody(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE SaveToFile(BSTR path) override;
    HRESULT STDMETHODCALLTYPE get_Charset(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_Charset(BSTR charset) override;
    HRESULT STDMETHODCALLTYPE get_FollowRedirects(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE put_FollowRedirects(VARIANT_BOOL follow) override;
    HRESULT STDMETHODCALLTYPE get_FinalURL(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE get_Username(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_Username(BSTR username) override;
    HRESULT STDMETHODCALLTYPE get_Password(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_Password(BSTR password) override;
    HRESULT STDMETHODCALLTYPE get_Proxy(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_Proxy(BSTR proxy) override;
    HRESULT STDMETHODCALLTYPE get_ProxyUsername(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_ProxyUsername(BSTR username) override;
    HRESULT STDMETHODCALLTYPE get_ProxyPassword(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_ProxyPassword(BSTR password) override;
    HRESULT STDMETHODCALLTYPE get_IgnoreCertificateErrors(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE put_IgnoreCertificateErrors(VARIANT_BOOL ignore) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE get_MaxResponseSize(LONG* result) override;
    HRESULT STDMETHODCALLTYPE put_MaxResponseSize(LONG bytes) override;

protected:
    // Bodies: as large as the response was.
    std::span<const HandedOver> handed_over() const override;

private:
    ~HTTP() override = default;

    // Made on first use; every response's lines are added to it.
    HTTPHeaders& headers();
    http::Client::HeaderSink header_sink();

    http::Client client_;
    ComPtr<HTTPHeaders> headers_;
};

}  // namespace corvane
