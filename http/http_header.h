#pragma once

#include "frame/dispatch.h"
#include "frame/interfaces.h"

#include <string>

namespace corvane {

// One response header line.
class HTTPHeader final : public DispatchObject<_HTTPHeader> {
public:
    static ComPtr<IUnknown> create();

    HRESULT STDMETHODCALLTYPE get_ID(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_ID(BSTR str_new) override;
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_Name(BSTR str_name) override;
    HRESULT STDMETHODCALLTYPE get_Value(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_Value(BSTR str_value) override;

    // An entry as a request makes it: ID and Name the header name.
    static ComPtr<HTTPHeader> from_line(std::wstring name, std::wstring value);
    const std::wstring& value() const { return value_; }

private:
    ~HTTPHeader() override = default;

    std::wstring id_;
    std::wstring name_;
    std::wstring value_;
    bool id_assigned_ = false;
};

}  // namespace corvane
