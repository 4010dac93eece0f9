// Whole directory trees between the server and the local disk, walked with
// the session's own members and the platform's file-system object, so that
// every inner error reaches the caller as that member raised it.

#include "transfer/tree.h"

#include "frame/error.h"
#include "frame/late_bound.h"
#include "frame/platform.h"
#include "frame/text.h"
#include "ftp/ftp_errors.h"
#include "transfer/local_names.h"
#include "transfer/single_file.h"
#include "wininet/error_text.h"

#include <vector>

namespace corvane::transfer {

namespace {

using ftp::ListingEntry;
using ftp::Session;
using ftp::WireText;

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
    raise(ftp::errors::get_file,
          std::wstring(ftp::errors::get_file.message) + L" The entry " + shown_name(name) + L" listed in " + remote_path.text() +
              L" " + std::wstring(reason) + L", so nothing of that directory was copied.");
}

std::wstring resolved(const std::wstring& path)
{
    std::wstring full = full_path(path);
    if (full.empty())
        raise_platform_failure(ftp::errors::get_file, L"GetDirectory");
    return full;
}

// The entries of one listing that a download copies, every one of them
// checked before the first is written: a refused name leaves nothing of
// the listing behind.
std::vector<const ListingEntry*> entries_to_copy(const std::vector<ListingEntry>& listing,
                                                 const WireText& remote_path, const std::wstring& local_path,
                                                 bool traverse_sub_directories)
{
    std::vector<const ListingEntry*> entries;
    for (const ListingEntry& entry : listing) {
        if (is_self_or_parent(entry.name))
            continue;
        if (!entry.directory || traverse_sub_directories)
            entries.push_back(&entry);
    }
    for (const ListingEntry* entry : entries) {
        if (const std::wstring_view reason = why_not_plain(entry->name); !reason.empty())
            refuse_entry(entry->name, remote_path, reason);
    }
    // Second guard: however the platform reads a name the check above let
    // through, the path it resolves must stay inside the folder.
    const std::wstring folder = resolved(local_path + L"\\");
    for (const ListingEntry* entry : entries) {
        const std::wstring target = resolved(local_path + L"\\" + entry->name);
        if (!lies_inside(folder, target))
            refuse_entry(entry->name, remote_path, L"would be written at " + target + L", outside " + folder);
    }
    return entries;
}

// The walks below take an absolute remote path: every name in them is built
// from it, and none depends on the directory a deeper level left behind.
// Only the caller changes back, once.
WireText absolute_path(const Session& session, const std::wstring& saved_directory, const WireText& remote_path,
                       WireText (*checked)(const Session&, std::wstring_view))
{
    if (!remote_path.text().empty() && remote_path.text().front() == L'/')
        return remote_path;
    return checked(session, saved_directory + remote_path.text());
}

void download_tree(Session& session, const WireText& remote_path, const std::wstring& local_path,
                   VARIANT_BOOL overwrite, VARIANT_BOOL traverse_sub_directories)
{
    session.change_directory(remote_path);
    const std::vector<ListingEntry> listing = session.list();
    const std::vector<const ListingEntry*> entries =
        entries_to_copy(listing, remote_path, local_path, traverse_sub_directories != VARIANT_FALSE);

    // Made only once the listing has passed.
    ComPtr<IDispatch> file_system = create_object(L"Scripting.FileSystemObject");
    if (!folder_exists(file_system.get(), local_path)) {
        Variant argument = text_argument(local_path);
        call_method(file_system.get(), L"CreateFolder", {argument.get(), 1});
    }
    for (const ListingEntry* entry : entries) {
        const WireText remote_entry = download_name(session, remote_path.text() + L"/" + entry->name);
        const std::wstring local_entry = local_path + L"\\" + entry->name;
        if (entry->directory)
            download_tree(session, remote_entry, local_entry, overwrite, traverse_sub_directories);
        else
            download(session, remote_entry, local_entry, overwrite);
    }
}

// Stores by absolute names and so changes directory only where it must:
// into the top, which must exist, and into a subdirectory it could not
// make, which then must exist already.
void upload_tree(Session& session, const std::wstring& local_path, const WireText& remote_path,
                 VARIANT_BOOL traverse_sub_directories, bool made)
{
    if (!made)
        session.change_directory(remote_path);
    // What the platform last said, for the text of a missing-folder error.
    const LONG last_code = static_cast<LONG>(platform().GetLastError());
    ComPtr<IDispatch> file_system = create_object(L"Scripting.FileSystemObject");
    if (!folder_exists(file_system.get(), local_path))
        raise_platform_error(ftp::errors::missing_folder,
                             std::wstring(ftp::errors::missing_folder.message) + local_path + L" does not exist.",
                             last_code, L"PutDirectory");

    Variant argument = text_argument(local_path);
    ComPtr<IDispatch> folder = object_of(call_method(file_system.get(), L"GetFolder", {argument.get(), 1}));
    const ComPtr<IDispatch> local_files = object_of(get_property(folder.get(), L"Files"));
    for (Variant& element : for_each_item(local_files.get())) {
        const std::wstring name = element_name(std::move(element));
        store(session, local_path + L"\\" + name, upload_name(session, remote_path.text() + L"/" + name));
    }
    if (!traverse_sub_directories)
        return;
    const ComPtr<IDispatch> subfolders = object_of(get_property(folder.get(), L"SubFolders"));
    for (Variant& element : for_each_item(subfolders.get())) {
        const std::wstring name = element_name(std::move(element));
        const WireText remote_name = upload_name(session, remote_path.text() + L"/" + name);
        bool created = true;
        try {
            session.create_directory(remote_name);
        } catch (const ComponentError&) {
            // Most often it exists already; the descent below says so if not.
            created = false;
        }
        upload_tree(session, local_path + L"\\" + name, remote_name, traverse_sub_directories, created);
    }
}

}  // namespace

void get_directory(Session& session, std::wstring_view remote_path, const std::wstring& local_path,
                   VARIANT_BOOL overwrite, VARIANT_BOOL traverse_sub_directories)
{
    const WireText remote = download_name(session, remote_path);
    check_local_path(local_path, ftp::errors::get_file);
    session.set_bytes_transferred(0);
    const std::wstring saved_directory = session.current_directory();
    returning_to(session, saved_directory, download_name, [&] {
        download_tree(session, absolute_path(session, saved_directory, remote, download_name), local_path, overwrite,
                      traverse_sub_directories);
    });
}

void put_directory(Session& session, const std::wstring& local_path, std::wstring_view remote_path,
                   VARIANT_BOOL traverse_sub_directories)
{
    check_local_path(local_path, ftp::errors::put_file);
    const WireText remote = upload_name(session, remote_path);
    session.set_bytes_transferred(0);
    const std::wstring saved_directory = session.current_directory();
    returning_to(session, saved_directory, upload_name, [&] {
        upload_tree(session, local_path, absolute_path(session, saved_directory, remote, upload_name),
                    traverse_sub_directories, false);
    });
}

}  // namespace corvane::transfer
