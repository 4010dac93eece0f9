// Raw commands, the last server response, the current remote directory and
// the single-call remote operations.

#include "ftp/ftp.h"

#include "frame/error_text.h"
#include "frame/platform.h"
#include "frame/text.h"

#include <algorithm>
#include <vector>

namespace corvane {

namespace {

constexpr HRESULT retrieve_directory_error = static_cast<HRESULT>(0x80040202);
constexpr HRESULT set_directory_error = static_cast<HRESULT>(0x80040203);
constexpr HRESULT create_directory_error = static_cast<HRESULT>(0x80040205);
constexpr HRESULT rename_error = static_cast<HRESULT>(0x80040206);
constexpr HRESULT delete_file_error = static_cast<HRESULT>(0x80040209);
constexpr HRESULT remove_directory_error = static_cast<HRESULT>(0x8004020c);
constexpr HRESULT not_connected_error = static_cast<HRESULT>(0x8004020d);
constexpr HRESULT execute_command_error = static_cast<HRESULT>(0x8004020f);

constexpr DWORD directory_capacity = MAX_PATH;
// A directory text longer than any server sends; the growing buffer stops
// here.
constexpr DWORD directory_capacity_limit = 64 * 1024;
constexpr DWORD command_read_size = 4096;

[[noreturn]] void raise_not_connected()
{
    raise(not_connected_error, ftp_source, L"Error getting/setting directory.  No connection open.");
}

// Every "//" replaced by "/" in one left-to-right pass, as a text
// replacement does it: "///" becomes "//".
std::wstring collapse_double_slashes(const std::wstring& text)
{
    std::wstring result;
    result.reserve(text.size());
    for (size_t position = 0; position < text.size();) {
        if (text.compare(position, 2, L"//") == 0) {
            result += L'/';
            position += 2;
        } else {
            result += text[position++];
        }
    }
    return result;
}

}  // namespace

HRESULT FTP::ExecuteCommand(VARIANT str_command, VARIANT_BOOL bool_expect_response, BSTR* result)
{
    return member([&] {
        const bool expect_response = bool_expect_response == VARIANT_TRUE;
        const WireText command(text_of(str_command), execute_command_error, L"Error executing command on FTP server.",
                               L"command");
        const PlatformStep step;
        InternetHandle data_channel;
        if (!platform().FtpCommandA(lng_connection_handle.get(), bool_expect_response,
                                    static_cast<DWORD>(lng_transfer_type), command.ansi(), 0, data_channel.put()))
            raise_platform_failure(execute_command_error, ftp_source, L"Error executing command on FTP server.",
                                   L"ExecuteCommand");

        // The whole reply, however the network splits it. A read that fails
        // leaves a reply cut short: passed off as the whole, it would be read
        // as the server's complete answer.
        std::string reply;
        if (expect_response) {
            std::vector<char> chunk(command_read_size);
            for (;;) {
                DWORD bytes_read = 0;
                if (!platform().InternetReadFile(data_channel.get(), chunk.data(), command_read_size, &bytes_read))
                    raise_platform_failure(execute_command_error, ftp_source,
                                           L"Error executing command on FTP server.", L"ExecuteCommand");
                if (bytes_read == 0)
                    break;
                reply.append(chunk.data(), bytes_read);
            }
        }
        data_channel = InternetHandle();
        *result = allocate_bstr(from_ansi(reply));
    });
}

HRESULT FTP::GetLastResponse(VARIANT* result)
{
    return member([&] { set_variant_text(result, last_response_text()); });
}

std::wstring FTP::current_directory()
{
    if (!bool_connected)
        raise_not_connected();
    const PlatformStep step;
    std::vector<char> buffer(directory_capacity, '\0');
    for (;;) {
        DWORD length = static_cast<DWORD>(buffer.size());
        if (platform().FtpGetCurrentDirectoryA(lng_connection_handle.get(), buffer.data(), &length))
            break;
        const DWORD code = platform().GetLastError();
        if (code != ERROR_INSUFFICIENT_BUFFER || buffer.size() >= directory_capacity_limit)
            raise_platform_error(retrieve_directory_error, ftp_source, L"Error retrieving directory.",
                                 static_cast<LONG>(code), L"Directory");
        // A path longer than the buffer. The platform may say how much it
        // needs (Windows) or not (Wine leaves the length alone): grow by
        // what it says or by doubling, whichever is more.
        const size_t doubled = buffer.size() * 2;
        const size_t asked = static_cast<size_t>(length) + 1;
        buffer.assign(std::min<size_t>(std::max(doubled, asked), directory_capacity_limit), '\0');
    }
    return collapse_double_slashes(from_ansi_buffer(buffer.data(), buffer.size()) + L"/");
}

void FTP::change_directory(const WireText& directory)
{
    if (!bool_connected)
        raise_not_connected();
    const PlatformStep step;
    if (!platform().FtpSetCurrentDirectoryA(lng_connection_handle.get(), directory.ansi()))
        raise_platform_failure(set_directory_error, ftp_source, L"Error setting directory.", L"Directory");
}

HRESULT FTP::get_Directory(VARIANT* result)
{
    return member([&] { set_variant_text(result, current_directory()); });
}

HRESULT FTP::put_Directory(VARIANT str_directory)
{
    return member([&] {
        change_directory(WireText(text_of(str_directory), set_directory_error, L"Error setting directory."));
    });
}

void FTP::create_directory(const WireText& name)
{
    const PlatformStep step;
    if (!platform().FtpCreateDirectoryA(lng_connection_handle.get(), name.ansi()))
        raise_platform_failure(create_directory_error, ftp_source, L"Error creating directory.", L"CreateDirectory");
}

HRESULT FTP::CreateDirectory(VARIANT str_directory_name)
{
    return member([&] {
        create_directory(WireText(text_of(str_directory_name), create_directory_error, L"Error creating directory."));
    });
}

HRESULT FTP::RemoveDirectory(VARIANT str_directory_name)
{
    return member([&] {
        const WireText name(text_of(str_directory_name), remove_directory_error, L"Error removing directory.");
        const PlatformStep step;
        if (!platform().FtpRemoveDirectoryA(lng_connection_handle.get(), name.ansi()))
            raise_platform_failure(remove_directory_error, ftp_source, L"Error removing directory.",
                                   L"RemoveDirectory");
    });
}

HRESULT FTP::RenameFile(VARIANT str_old_filename, VARIANT str_new_filename)
{
    return member([&] {
        const WireText old_name(text_of(str_old_filename), rename_error, L"Error renaming file/directory.");
        const WireText new_name(text_of(str_new_filename), rename_error, L"Error renaming file/directory.");
        const PlatformStep step;
        if (!platform().FtpRenameFileA(lng_connection_handle.get(), old_name.ansi(), new_name.ansi()))
            raise_platform_failure(rename_error, ftp_source, L"Error renaming file/directory.", L"RenameFile");
    });
}

HRESULT FTP::DeleteFile(VARIANT str_remote_path)
{
    return member([&] {
        const WireText name(text_of(str_remote_path), delete_file_error, L"Error deleting file from the remote server.");
        const PlatformStep step;
        if (!platform().FtpDeleteFileA(lng_connection_handle.get(), name.ansi()))
            raise_platform_failure(delete_file_error, ftp_source, L"Error deleting file from the remote server.",
                                   L"DeleteFile");
    });
}

}  // namespace corvane
