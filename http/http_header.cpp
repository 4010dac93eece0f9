#include "http/http_header.h"

namespace corvane {

ComPtr<IUnknown> HTTPHeader::create()
{
    return ComPtr<IUnknown>::adopt(static_cast<_HTTPHeader*>(make_object<HTTPHeader>().detach()));
}

// Members whose behaviour is not built yet.
HRESULT HTTPHeader::get_ID(BSTR*) { return not_built_yet(); }
HRESULT HTTPHeader::put_ID(BSTR) { return not_built_yet(); }
HRESULT HTTPHeader::get_Name(BSTR*) { return not_built_yet(); }
HRESULT HTTPHeader::put_Name(BSTR) { return not_built_yet(); }
HRESULT HTTPHeader::get_Value(BSTR*) { return not_built_yet(); }
HRESULT HTTPHeader::put_Value(BSTR) { return not_built_yet(); }

}  // namespace corvane
