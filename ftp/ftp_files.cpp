#include "ftp/ftp_files.h"

namespace corvane {

ComPtr<IUnknown> FTPFiles::create()
{
    return ComPtr<IUnknown>::adopt(static_cast<_FTPFiles*>(make_object<FTPFiles>().detach()));
}

// Members whose behaviour is not built yet.
HRESULT FTPFiles::Count(LONG*) { return not_built_yet(); }
HRESULT FTPFiles::Item(VARIANT, _FTPFile**) { return not_built_yet(); }
HRESULT FTPFiles::NewEnum(IUnknown**) { return not_built_yet(); }

}  // namespace corvane
