#include "component/ftp_file.h"

#include "frame/text.h"
#include "frame/variants.h"

namespace corvane {

ComPtr<FTPFile> FTPFile::from_listing_entry(ftp::ListingEntry entry)
{
    auto file = make_object<FTPFile>();
    file->filename_ = std::move(entry.name);
    file->id_assigned_ = true;
    file->id_is_filename_ = true;
    file->file_type_ = entry.directory ? FTPDirectory : FTPFileEntry;
    file->file_size_ = entry.size;
    file->last_access_time_ = std::move(entry.last_access_time);
    file->last_write_time_ = std::move(entry.last_write_time);
    file->creation_time_ = std::move(entry.creation_time);
    return file;
}

void FTPFile::assign_id(std::wstring_view id)
{
    if (id_assigned_)
        return;
    id_ = id;
    id_assigned_ = true;
}

HRESULT FTPFile::get_ID(BSTR* result)
{
    return member(result, [&] { *result = allocate_bstr(id_is_filename_ ? filename_ : id_); });
}

HRESULT FTPFile::put_ID(BSTR id)
{
    return member([&] { assign_id(Bstr::view_of(id)); });
}

HRESULT FTPFile::put_Filename(BSTR filename)
{
    return member([&] {
        std::wstring renamed(Bstr::view_of(filename));
        if (id_is_filename_) {
            id_ = std::move(filename_);
            id_is_filename_ = false;
        }
        filename_ = std::move(renamed);
    });
}

HRESULT FTPFile::get_Filename(BSTR* result)
{
    return member(result, [&] { *result = allocate_bstr(filename_); });
}

HRESULT FTPFile::put_FileType(enum_FileType file_type)
{
    return member([&] { file_type_ = file_type; });
}

HRESULT FTPFile::get_FileType(enum_FileType* result)
{
    return member(result, [&] { *result = static_cast<enum_FileType>(file_type_); });
}

HRESULT FTPFile::put_FileSize(VARIANT file_size)
{
    return member([&] {
        Variant number;
        check_com(VariantChangeType(number.get(), &file_size, 0, VT_R8));
        file_size_ = V_R8(number.get());
    });
}

HRESULT FTPFile::get_FileSize(VARIANT* result)
{
    return member(result, [&] {
        set_variant_number(result, file_size_);
    });
}

HRESULT FTPFile::put_LastAccessTime(BSTR time)
{
    return member([&] { last_access_time_ = Bstr::view_of(time); });
}

HRESULT FTPFile::get_LastAccessTime(BSTR* result)
{
    return member(result, [&] { *result = allocate_bstr(last_access_time_); });
}

HRESULT FTPFile::put_LastWriteTime(BSTR time)
{
    return member([&] { last_write_time_ = Bstr::view_of(time); });
}

HRESULT FTPFile::get_LastWriteTime(BSTR* result)
{
    return member(result, [&] { *result = allocate_bstr(last_write_time_); });
}

HRESULT FTPFile::put_CreationTime(BSTR time)
{
    return member([&] { creation_time_ = Bstr::view_of(time); });
}

HRESULT FTPFile::get_CreationTime(BSTR* result)
{
    return member(result, [&] { *result = allocate_bstr(creation_time_); });
}

}  // namespace corvane
