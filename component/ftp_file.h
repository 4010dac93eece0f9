#pragma once

#include "component/interfaces.h"
#include "frame/dispatch.h"
#include "ftp/listing.h"

#include <string>

namespace corvane {

// One entry of a remote directory listing.
class FTPFile final : public DispatchObject<_FTPFile> {
public:
    HRESULT STDMETHODCALLTYPE get_ID(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_ID(BSTR id) override;
    HRESULT STDMETHODCALLTYPE put_Filename(BSTR filename) override;
    HRESULT STDMETHODCALLTYPE get_Filename(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_FileType(enum_FileType file_type) override;
    HRESULT STDMETHODCALLTYPE get_FileType(enum_FileType* result) override;
    HRESULT STDMETHODCALLTYPE put_FileSize(VARIANT file_size) override;
    HRESULT STDMETHODCALLTYPE get_FileSize(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE put_LastAccessTime(BSTR time) override;
    HRESULT STDMETHODCALLTYPE get_LastAccessTime(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_LastWriteTime(BSTR time) override;
    HRESULT STDMETHODCALLTYPE get_LastWriteTime(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_CreationTime(BSTR time) override;
    HRESULT STDMETHODCALLTYPE get_CreationTime(BSTR* result) override;

    // An entry of a listing, its ID the name.
    static ComPtr<FTPFile> from_listing_entry(ftp::ListingEntry entry);
    const std::wstring& filename() const { return filename_; }

private:
    ~FTPFile() override = default;

    // The first ID given stays.
    void assign_id(std::wstring_view id);

    std::wstring filename_;
    LONG file_type_ = 0;
    double file_size_ = 0;
    std::wstring last_access_time_;
    std::wstring last_write_time_;
    std::wstring creation_time_;
    std::wstring id_;
    bool id_assigned_ = false;
    // The ID is the first filename, kept in filename_ until that changes:
    // a listing makes one object per entry, and a copy each would cost.
    bool id_is_filename_ = false;
};

}  // namespace corvane
