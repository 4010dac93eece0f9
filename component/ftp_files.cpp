#include "component/ftp_files.h"

namespace corvane {

ComPtr<FTPFiles> FTPFiles::from_listing(std::vector<ftp::ListingEntry> listing)
{
    auto files = make_object<FTPFiles>();
    files->entries_.reserve(listing.size());
    for (ftp::ListingEntry& entry : listing) {
        ComPtr<FTPFile> file = FTPFile::from_listing_entry(std::move(entry));
        const std::wstring& name = file->filename();
        files->entries_.add(std::move(file), name);
    }
    return files;
}

HRESULT FTPFiles::Count(LONG* result)
{
    return member(result, [&] { *result = static_cast<LONG>(entries_.size()); });
}

HRESULT FTPFiles::Item(VARIANT index, _FTPFile** result)
{
    return member(result, [&] { *result = ComPtr<_FTPFile>::share(&entries_.find(index)).detach(); });
}

HRESULT FTPFiles::NewEnum(IUnknown** result)
{
    return member(result, [&] { *result = entries_.enumerator().detach(); });
}

}  // namespace corvane
