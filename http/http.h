#pragma once

#include "frame/dispatch.h"
#include "frame/interfaces.h"
#include "frame/internet_handle.h"
#include "http/http_headers.h"

#include <optional>
#include <string>

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
    ~HTTP() override;

    HTTPHeaders& headers();
    void open_connection();
    void request_and_read();
    std::optional<unsigned long long> read_headers();
    void read_body(std::optional<unsigned long long> announced_length);
    void CloseHandles();

    std::wstring server_name;
    std::wstring path;
    std::wstring content;
    ComPtr<HTTPHeaders> header_collection;
    bool open_mark = false;
    // Not part of what scripts see: how the URL asked to be fetched.
    bool secure = false;
    InternetHandle session_handle;
    InternetHandle connection_handle;
    InternetHandle request_handle;
};

// Where a server name says to connect: the host alone and the port, when
// one is written after the host ("server1:8080", "[::1]:8080").
struct HostAndPort {
    std::wstring host;
    INTERNET_PORT port = 0;  // 0: none written
};
HostAndPort split_port(const std::wstring& server_name);

}  // namespace corvane
