// Whole directory trees between the server and the local disk, walked with
// the session's own members and the platform's file-system object, so that
// every inner error reaches the caller as that member raised it.

#include "ftp/ftp.h"

#include "frame/error_text.h"
#include "frame/late_bound.h"
#include "frame/platform.h"
#include "frame/text.h"
#include "transfer/local_names.h"

#include <vector>

namespace corvane {

namespace {

constexpr HRESULT put_file_error = static_cast<HRESULT>(0x80040207);
constexpr HRESULT get_file_error = static_cast<HRESULT>(0x80040208);
constexpr HRESULT missing_folder_error = static_cast<HRESULT>(0x8004020e);
constexpr std::wstring_view put_file_message = L"Error putting file to remote server.";
constexpr std::wstring_view get_file_message = L"Error getting file from the remote server.";

WireText download_name(std::wstring_view text)
{
    return WireText(text, get_file_error, get_file_message);
}

WireText upload_name(std::wstring_view text)
{
    return WireText(text, put_file_error, put_file_message);
}

Variant text_argument(const std::wstring& text)
{
    Variant value;
    set_variant_text(value.put(), text);
    return value;
}

bool folder_exists(IDispatch* file_system, const std::wstring& path)
{
    Variant argument = text_argument(path);
    Variant exists = call_method(file_system, L"FolderExists", {argument.get(), 1});
    Variant flag;
    check_com(VariantChangeType(flag.put(), exists.get(), 0, VT_BOOL));
    return V_BOOL(flag.get()) != VARIANT_FALSE;
}

ComPtr<IDispatch> object_of(Variant value)
{
    if (V_VT(value.get()) != VT_DISPATCH || !V_DISPATCH(value.get()))
        check_com(DISP_E_TYPEMISMATCH);
    return ComPtr<IDispatch>::share(V_DISPATCH(value.get()));
}

// The name of a folder or file the file-system object enumerated.
std::wstring element_name(Variant element)
{
    return text_of(*get_property(object_of(std::move(element)).get(), L"Name").get());
}

// A listing may carry entries for the directory itself and its parent;
// descending into them would never end.
bool is_self_or_parent(const std::wstring& name)
{
    return name == L"." || name == L"..";
}

[[noreturn]] void refuse_entry(const std::wstring& name, const WireText& remote_path, std::wstring_view reason)
{
    raise(get_file_error, ftp_source,
          std::wstring(get_file_message) + L" The entry " + shown_name(name) + L" listed in " + remote_path.text() +
              L" " + std::wstring(reason) + L", so nothing of that directory was copied.");
}

std::wstring resolved(const std::wstring& path)
{
    std::wstring full = full_path(path);
    if (full.empty())
        raise_platform_failure(get_file_error, ftp_source, get_file_message, L"GetDirectory");
    return full;
}

// The entries of one listing that a download copies, every one of them
// checked before the first is written: a refused name leaves nothing of
// the listing behind.
std::vector<const FTPFile*> entries_to_copy(const FTPFiles& files, const WireText& remote_path,
                                            const std::wstring& local_path, bool traverse_sub_directories)
{
    std::vector<const FTPFile*> entries;
    for (size_t index = 0; index < files.size(); ++index) {
        const FTPFile& entry = files.entry(index);
        if (is_self_or_parent(entry.filename()))
            continue;
        if (entry.file_type_value() == FTPFileEntry ||
            (entry.file_type_value() == FTPDirectory && traverse_sub_directories))
            entries.push_back(&entry);
    }
    for (const FTPFile* entry : entries) {
        if (const std::wstring_view reason = why_not_plain(entry->filename()); !reason.empty())
            refuse_entry(entry->filename(), remote_path, reason);
    }
    // Second guard: however the platform reads a name the check above let
    // through, the path it resolves must stay inside the folder.
    const std::wstring folder = resolved(local_path + L"\\");
    for (const FTPFile* entry : entries) {
        const std::wstring target = resolved(local_path + L"\\" + entry->filename());
        if (!lies_inside(folder, target))
            refuse_entry(entry->filename(), remote_path, L"would be written at " + target + L", outside " + folder);
    }
    return entries;
}

}  // namespace

void FTP::get_directory(const WireText& remote_path, const std::wstring& local_path, VARIANT_BOOL overwrite,
                        VARIANT_BOOL traverse_sub_directories)
{
    const std::wstring saved_directory = current_directory();
    change_directory(remote_path);
    const ComPtr<FTPFiles> files = list_directory();
    const std::vector<const FTPFile*> entries =
        entries_to_copy(*files.get(), remote_path, local_path, traverse_sub_directories != VARIANT_FALSE);

    // Made only once the listing has passed.
    ComPtr<IDispatch> file_system = create_object(L"Scripting.FileSystemObject");
    if (!folder_exists(file_system.get(), local_path)) {
        Variant argument = text_argument(local_path);
        call_method(file_system.get(), L"CreateFolder", {argument.get(), 1});
    }
    for (const FTPFile* entry : entries) {
        const WireText remote_entry = download_name(remote_path.text() + L"/" + entry->filename());
        const std::wstring local_entry = local_path + L"\\" + entry->filename();
        if (entry->file_type_value() == FTPDirectory)
            get_directory(remote_entry, local_entry, overwrite, traverse_sub_directories);
        else
            get_file(remote_entry, local_entry, overwrite);
    }
    change_directory(download_name(saved_directory));
}

void FTP::put_directory(const std::wstring& local_path, const WireText& remote_path,
                        VARIANT_BOOL traverse_sub_directories)
{
    const std::wstring saved_directory = current_directory();
    change_directory(remote_path);
    // What the platform last said, for the text of a missing-folder error.
    const LONG last_code = static_cast<LONG>(platform().GetLastError());
    ComPtr<IDispatch> file_system = create_object(L"Scripting.FileSystemObject");
    if (!folder_exists(file_system.get(), local_path))
        raise_platform_error(missing_folder_error, ftp_source, L"Folder :" + local_path + L" does not exist.",
                             last_code, L"PutDirectory");

    Variant argument = text_argument(local_path);
    ComPtr<IDispatch> folder = object_of(call_method(file_system.get(), L"GetFolder", {argument.get(), 1}));
    if (traverse_sub_directories) {
        const ComPtr<IDispatch> subfolders = object_of(get_property(folder.get(), L"SubFolders"));
        for (Variant& element : for_each_item(subfolders.get())) {
            const std::wstring name = element_name(std::move(element));
            const WireText remote_name = upload_name(name);
            try {
                create_directory(remote_name);
            } catch (const ComponentError&) {
                // Most often it exists already; the descent below says so if not.
            }
            put_directory(local_path + L"\\" + name, upload_name(remote_path.text() + L"/" + name),
                          traverse_sub_directories);
        }
    }
    const ComPtr<IDispatch> local_files = object_of(get_property(folder.get(), L"Files"));
    for (Variant& element : for_each_item(local_files.get())) {
        const std::wstring name = element_name(std::move(element));
        put_file(local_path + L"\\" + name, upload_name(name));
    }
    change_directory(upload_name(saved_directory));
}

HRESULT FTP::GetDirectory(VARIANT str_remote_path, VARIANT str_local_path, VARIANT_BOOL bool_overwrite,
                          VARIANT_BOOL bool_traverse_sub_directories)
{
    return member([&] {
        const WireText remote_path = download_name(text_of(str_remote_path));
        const std::wstring local_path = text_of(str_local_path);
        check_local_path(local_path, get_file_error, get_file_message);
        get_directory(remote_path, local_path, bool_overwrite, bool_traverse_sub_directories);
    });
}

HRESULT FTP::PutDirectory(VARIANT str_local_path, VARIANT str_remote_path, VARIANT_BOOL bool_traverse_sub_directories)
{
    return member([&] {
        const std::wstring local_path = text_of(str_local_path);
        check_local_path(local_path, put_file_error, put_file_message);
        put_directory(local_path, upload_name(text_of(str_remote_path)), bool_traverse_sub_directories);
    });
}

}  // namespace corvane
