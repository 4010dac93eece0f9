#pragma once

#include "frame/dispatch.h"
#include "frame/interfaces.h"

namespace corvane {

// One entry of a remote directory listing.
class FTPFile final : public DispatchObject<_FTPFile> {
public:
    static ComPtr<IUnknown> create();

    HRESULT STDMETHODCALLTYPE get_ID(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_ID(BSTR str_new) override;
    HRESULT STDMETHODCALLTYPE put_Filename(BSTR str_filename) override;
    HRESULT STDMETHODCALLTYPE get_Filename(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_FileType(enum_FileType lng_file_type) override;
    HRESULT STDMETHODCALLTYPE get_FileType(enum_FileType* result) override;
    HRESULT STDMETHODCALLTYPE put_FileSize(VARIANT lng_file_size) override;
    HRESULT STDMETHODCALLTYPE get_FileSize(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE put_LastAccessTime(BSTR str_last_access_time) override;
    HRESULT STDMETHODCALLTYPE get_LastAccessTime(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_LastWriteTime(BSTR str_last_write_time) override;
    HRESULT STDMETHODCALLTYPE get_LastWriteTime(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_CreationTime(BSTR str_creation_time) override;
    HRESULT STDMETHODCALLTYPE get_CreationTime(BSTR* result) override;

private:
    ~FTPFile() override = default;
};

}  // namespace corvane
