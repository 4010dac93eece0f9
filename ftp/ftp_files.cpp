#include "ftp/ftp_files.h"

namespace corvane {

ComPtr<IUnknown> FTPFiles::create()
{
    return ComPtr<IUnknown>::adopt(static_cast<_FTPFiles*>(make_object<FTPFiles>().detach()));
}

ComPtr<FTPFile> FTPFiles::AddFile(const WIN32_FIND_DATAA& record)
{
    ComPtr<FTPFile> entry = FTPFile::from_find_data(record);
    in_order.push_back(entry.get());
    try {
        entries.add(ComPtr<IDispatch>::share(static_cast<_FTPFile*>(entry.get())), entry->filename());
    } catch (...) {
        in_order.pop_back();
        throw;
    }
    return entry;
}

const FTPFile& FTPFiles::entry(size_t index) const
{
    return *in_order[index];
}

HRESULT FTPFiles::Count(LONG* result)
{
    return member([&] { *result = static_cast<LONG>(entries.size()); });
}

HRESULT FTPFiles::Item(VARIANT var_idx, _FTPFile** result)
{
    return member([&] {
        const ComPtr<IDispatch>& found = entries.find(var_idx);
        check_com(found->QueryInterface(__uuidof(_FTPFile), reinterpret_cast<void**>(result)));
    });
}

HRESULT FTPFiles::NewEnum(IUnknown** result)
{
    return member([&] { *result = entries.enumerator().detach(); });
}

}  // namespace corvane
