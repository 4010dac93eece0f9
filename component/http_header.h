#pragma once

#include "component/interfaces.h"
#include "frame/dispatch.h"

#include <string>

namespace corvane {

// One response header line.
class HTTPHeader final : public DispatchObject<_HTTPHeader> {
public:
    HRESULT STDMETHODCALLTYPE get_ID(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_ID(BSTR id) override;
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_Name(BSTR name) override;
    HRESULT STDMETHODCALLTYPE get_Value(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_Value(BSTR value) override;

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
