#include "ftp/ftp_file.h"

namespace corvane {

ComPtr<IUnknown> FTPFile::create()
{
    return ComPtr<IUnknown>::adopt(static_cast<_FTPFile*>(make_object<FTPFile>().detach()));
}

// Members whose behaviour is not built yet.
HRESULT FTPFile::get_ID(BSTR*) { return not_built_yet(); }
HRESULT FTPFile::put_ID(BSTR) { return not_built_yet(); }
HRESULT FTPFile::put_Filename(BSTR) { return not_built_yet(); }
HRESULT FTPFile::get_Filename(BSTR*) { return not_built_yet(); }
HRESULT FTPFile::put_FileType(enum_FileType) { return not_built_yet(); }
HRESULT FTPFile::get_FileType(enum_FileType*) { return not_built_yet(); }
HRESULT FTPFile::put_FileSize(VARIANT) { return not_built_yet(); }
HRESULT FTPFile::get_FileSize(VARIANT*) { return not_built_yet(); }
HRESULT FTPFile::put_LastAccessTime(BSTR) { return not_built_yet(); }
HRESULT FTPFile::get_LastAccessTime(BSTR*) { return not_built_yet(); }
HRESULT FTPFile::put_LastWriteTime(BSTR) { return not_built_yet(); }
HRESULT FTPFile::get_LastWriteTime(BSTR*) { return not_built_yet(); }
HRESULT FTPFile::put_CreationTime(BSTR) { return not_built_yet(); }
HRESULT FTPFile::get_CreationTime(BSTR*) { return not_built_yet(); }

}  // namespace corvane
