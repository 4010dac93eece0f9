#pragma once

#include "frame/dispatch.h"
#include "frame/interfaces.h"

#include <string>

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

    // For the component's own readers of listings.
    const std::wstring& filename() const { return file_name; }
    LONG file_type_value() const { return file_type; }
    double size() const { return file_size; }
    const std::wstring& last_access() const { return last_access_time; }
    const std::wstring& last_write() const { return last_write_time; }
    const std::wstring& creation() const { return creation_time; }

    // A listing entry as AddFile builds it.
    static ComPtr<FTPFile> from_find_data(const WIN32_FIND_DATAA& record);

private:
    ~FTPFile() override = default;

    void assign_id(std::wstring_view text);

    std::wstring file_name;
    LONG file_type = 0;
    // Sizes up to 2^53 are exact; a listing cannot report more than 2^64.
    double file_size = 0;
    std::wstring last_access_time;
    std::wstring last_write_time;
    std::wstring creation_time;
    std::wstring id;
    bool id_assigned = false;
};

// The text of a size: whole numbers in plain decimal, however large.
std::wstring size_text(double size);

}  // namespace corvane
