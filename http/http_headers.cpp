#include "http/http_headers.h"

namespace corvane {

ComPtr<IUnknown> HTTPHeaders::create()
{
    return ComPtr<IUnknown>::adopt(static_cast<_HTTPHeaders*>(make_object<HTTPHeaders>().detach()));
}

// Members whose behaviour is not built yet.
HRESULT HTTPHeaders::Count(LONG*) { return not_built_yet(); }
HRESULT HTTPHeaders::Item(VARIANT, BSTR*) { return not_built_yet(); }
HRESULT HTTPHeaders::NewEnum(IUnknown**) { return not_built_yet(); }

}  // namespace corvane
