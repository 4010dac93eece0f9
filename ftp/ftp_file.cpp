#include "ftp/ftp_file.h"

#include "frame/text.h"
#include "ftp/time_text.h"

#include <cmath>
#include <cstdio>

namespace corvane {

namespace {

constexpr DWORD directory_attribute = FILE_ATTRIBUTE_DIRECTORY;

}  // namespace

ComPtr<IUnknown> FTPFile::create()
{
    return ComPtr<IUnknown>::adopt(static_cast<_FTPFile*>(make_object<FTPFile>().detach()));
}

ComPtr<FTPFile> FTPFile::from_find_data(const WIN32_FIND_DATAA& record)
{
    auto entry = make_object<FTPFile>();
    const std::wstring name = from_ansi_buffer(record.cFileName, sizeof record.cFileName);
    entry->assign_id(name);
    entry->file_name = name;
    entry->file_type = (record.dwFileAttributes & directory_attribute) ? FTPDirectory : FTPFileEntry;
    // Both size words unsigned: sizes of 2 GiB and more stay positive.
    entry->file_size = static_cast<double>(record.nFileSizeHigh) * 4294967296.0 + record.nFileSizeLow;
    entry->last_access_time = FileTimeToText(record.ftLastAccessTime);
    entry->last_write_time = FileTimeToText(record.ftLastWriteTime);
    entry->creation_time = FileTimeToText(record.ftCreationTime);
    return entry;
}

void FTPFile::assign_id(std::wstring_view text)
{
    if (id_assigned)
        return;
    id = text;
    id_assigned = true;
}

HRESULT FTPFile::get_ID(BSTR* result)
{
    return member([&] { *result = allocate_bstr(id); });
}

HRESULT FTPFile::put_ID(BSTR str_new)
{
    return member([&] { assign_id(Bstr::view_of(str_new)); });
}

HRESULT FTPFile::put_Filename(BSTR str_filename)
{
    return member([&] { file_name = Bstr::view_of(str_filename); });
}

HRESULT FTPFile::get_Filename(BSTR* result)
{
    return member([&] { *result = allocate_bstr(file_name); });
}

HRESULT FTPFile::put_FileType(enum_FileType lng_file_type)
{
    return member([&] { file_type = lng_file_type; });
}

HRESULT FTPFile::get_FileType(enum_FileType* result)
{
    return member([&] { *result = static_cast<enum_FileType>(file_type); });
}

HRESULT FTPFile::put_FileSize(VARIANT lng_file_size)
{
    return member([&] {
        Variant number;
        check_com(VariantChangeType(number.get(), &lng_file_size, 0, VT_R8));
        file_size = V_R8(number.get());
    });
}

HRESULT FTPFile::get_FileSize(VARIANT* result)
{
    return member([&] {
        // A Long while the size fits one, as scripts have always seen it.
        VariantInit(result);
        if (file_size >= -2147483648.0 && file_size <= 2147483647.0 && std::trunc(file_size) == file_size) {
            V_VT(result) = VT_I4;
            V_I4(result) = static_cast<LONG>(file_size);
        } else {
            V_VT(result) = VT_R8;
            V_R8(result) = file_size;
        }
    });
}

HRESULT FTPFile::put_LastAccessTime(BSTR str_last_access_time)
{
    return member([&] { last_access_time = Bstr::view_of(str_last_access_time); });
}

HRESULT FTPFile::get_LastAccessTime(BSTR* result)
{
    return member([&] { *result = allocate_bstr(last_access_time); });
}

HRESULT FTPFile::put_LastWriteTime(BSTR str_last_write_time)
{
    return member([&] { last_write_time = Bstr::view_of(str_last_write_time); });
}

HRESULT FTPFile::get_LastWriteTime(BSTR* result)
{
    return member([&] { *result = allocate_bstr(last_write_time); });
}

HRESULT FTPFile::put_CreationTime(BSTR str_creation_time)
{
    return member([&] { creation_time = Bstr::view_of(str_creation_time); });
}

HRESULT FTPFile::get_CreationTime(BSTR* result)
{
    return member([&] { *result = allocate_bstr(creation_time); });
}

std::wstring size_text(double size)
{
    if (std::trunc(size) == size && std::fabs(size) < 1e18)
        return std::to_wstring(static_cast<long long>(size));
    wchar_t text[64];
    std::swprintf(text, 64, L"%.17g", size);
    return text;
}

}  // namespace corvane
