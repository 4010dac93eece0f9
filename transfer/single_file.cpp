// One file between the server and the local disk, in one platform call.

#include "ftp/ftp.h"

#include "frame/error_text.h"
#include "frame/platform.h"
#include "frame/text.h"

namespace corvane {

namespace {

constexpr HRESULT put_file_error = static_cast<HRESULT>(0x80040207);
constexpr HRESULT get_file_error = static_cast<HRESULT>(0x80040208);

}  // namespace

void FTP::get_file(const std::wstring& remote_path, const std::wstring& local_path, VARIANT_BOOL overwrite)
{
    // Only a true overwrite (-1) replaces an existing local file.
    const BOOL fail_if_exists = static_cast<WORD>(~static_cast<WORD>(overwrite));
    const PlatformStep step;
    if (!platform().FtpGetFileA(lng_connection_handle.get(), to_ansi(remote_path).c_str(), to_ansi(local_path).c_str(),
                                fail_if_exists, FILE_ATTRIBUTE_NORMAL,
                                static_cast<DWORD>(lng_transfer_type) | INTERNET_FLAG_NO_CACHE_WRITE, 0))
        raise_platform_failure(get_file_error, ftp_source, L"Error getting file from the remote server.", L"GetFile");
}

void FTP::put_file(const std::wstring& local_path, const std::wstring& remote_path)
{
    const std::wstring saved_directory = current_directory();
    std::wstring remote_name = remote_path;
    if (const size_t slash = remote_path.rfind(L'/'); slash != std::wstring::npos) {
        change_directory(remote_path.substr(0, slash + 1));
        remote_name = remote_path.substr(slash + 1);
    }
    const PlatformStep step;
    if (!platform().FtpPutFileA(lng_connection_handle.get(), to_ansi(local_path).c_str(), to_ansi(remote_name).c_str(),
                                static_cast<DWORD>(lng_transfer_type), 0))
        raise_platform_failure(put_file_error, ftp_source, L"Error putting file to remote server.", L"PutFile");
    change_directory(saved_directory);
}

HRESULT FTP::GetFile(VARIANT str_remote_path, VARIANT str_local_path, VARIANT_BOOL bool_overwrite)
{
    return member([&] { get_file(text_of(str_remote_path), text_of(str_local_path), bool_overwrite); });
}

HRESULT FTP::PutFile(VARIANT str_local_path, VARIANT str_remote_path)
{
    return member([&] { put_file(text_of(str_local_path), text_of(str_remote_path)); });
}

}  // namespace corvane
