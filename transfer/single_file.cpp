// One file between the server and the local disk, in one platform call.

#include "ftp/ftp.h"

#include "frame/error_text.h"
#include "frame/platform.h"
#include "frame/text.h"
#include "transfer/local_names.h"

namespace corvane {

namespace {

constexpr HRESULT put_file_error = static_cast<HRESULT>(0x80040207);
constexpr HRESULT get_file_error = static_cast<HRESULT>(0x80040208);
constexpr std::wstring_view put_file_message = L"Error putting file to remote server.";
constexpr std::wstring_view get_file_message = L"Error getting file from the remote server.";

WireText upload_name(std::wstring_view text)
{
    return WireText(text, put_file_error, put_file_message);
}

}  // namespace

void FTP::get_file(const WireText& remote_path, const std::wstring& local_path, VARIANT_BOOL overwrite)
{
    // Only a true overwrite (-1) replaces an existing local file.
    const BOOL fail_if_exists = static_cast<WORD>(~static_cast<WORD>(overwrite));
    const PlatformStep step;
    if (!platform().FtpGetFileA(lng_connection_handle.get(), remote_path.ansi(), to_ansi(local_path).c_str(),
                                fail_if_exists, FILE_ATTRIBUTE_NORMAL,
                                static_cast<DWORD>(lng_transfer_type) | INTERNET_FLAG_NO_CACHE_WRITE, 0))
        raise_platform_failure(get_file_error, ftp_source, get_file_message, L"GetFile");
}

void FTP::put_file(const std::wstring& local_path, const WireText& remote_path)
{
    const std::wstring saved_directory = current_directory();
    const std::wstring& path = remote_path.text();
    const size_t slash = path.rfind(L'/');
    if (slash != std::wstring::npos)
        change_directory(upload_name(path.substr(0, slash + 1)));
    const WireText remote_name = slash == std::wstring::npos ? remote_path : upload_name(path.substr(slash + 1));
    const PlatformStep step;
    if (!platform().FtpPutFileA(lng_connection_handle.get(), to_ansi(local_path).c_str(), remote_name.ansi(),
                                static_cast<DWORD>(lng_transfer_type), 0))
        raise_platform_failure(put_file_error, ftp_source, put_file_message, L"PutFile");
    change_directory(upload_name(saved_directory));
}

HRESULT FTP::GetFile(VARIANT str_remote_path, VARIANT str_local_path, VARIANT_BOOL bool_overwrite)
{
    return member([&] {
        const WireText remote_path(text_of(str_remote_path), get_file_error, get_file_message);
        const std::wstring local_path = text_of(str_local_path);
        check_local_path(local_path, get_file_error, get_file_message);
        get_file(remote_path, local_path, bool_overwrite);
    });
}

HRESULT FTP::PutFile(VARIANT str_local_path, VARIANT str_remote_path)
{
    return member([&] {
        const std::wstring local_path = text_of(str_local_path);
        check_local_path(local_path, put_file_error, put_file_message);
        put_file(local_path, upload_name(text_of(str_remote_path)));
    });
}

}  // namespace corvane
