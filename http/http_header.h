#pragma once

#include "frame/dispatch.h"
#include "frame/interfaces.h"

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

private:
    ~HTTPHeader() override = default;
};

}  // namespace corvane
