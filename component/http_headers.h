#pragma once

#include "component/http_header.h"
#include "component/interfaces.h"
#include "frame/dispatch.h"
#include "frame/keyed_collection.h"

namespace corvane {

// The header lines of the responses an HTTP object received, in arrival
// order. A name that comes again (two Set-Cookie lines, a second request)
// adds an entry all the same; the first entry of a name holds the key.
class HTTPHeaders final : public DispatchObject<_HTTPHeaders> {
public:
    HRESULT STDMETHODCALLTYPE Count(LONG* result) override;
    HRESULT STDMETHODCALLTYPE Item(VARIANT index, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE NewEnum(IUnknown** result) override;

    void add(std::wstring name, std::wstring value);

private:
    ~HTTPHeaders() override = default;

    KeyedCollection<HTTPHeader> entries_;
};

}  // namespace corvane
