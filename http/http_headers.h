#pragma once

#include "frame/dispatch.h"
#include "frame/interfaces.h"
#include "frame/keyed_collection.h"
#include "http/http_header.h"

namespace corvane {

// The header lines of the responses an HTTP object received, in arrival
// order. A name that comes again (two Set-Cookie lines, a second request)
// adds an entry all the same; the first entry of a name holds the key.
class HTTPHeaders final : public DispatchObject<_HTTPHeaders> {
public:
    static ComPtr<IUnknown> create();

    HRESULT STDMETHODCALLTYPE Count(LONG* result) override;
    HRESULT STDMETHODCALLTYPE Item(VARIANT var_idx, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE NewEnum(IUnknown** result) override;

    void AddHeader(std::wstring name, std::wstring value);

private:
    ~HTTPHeaders() override = default;

    KeyedCollection entries;
};

}  // namespace corvane
