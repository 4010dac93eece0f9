#include "wininet/platform.h"

#include "frame/seam.h"

namespace corvane {
namespace {

class RealWinInet final : public WinInetPlatform {
public:
    HINTERNET InternetOpenA(LPCSTR agent, DWORD access_type, LPCSTR proxy, LPCSTR proxy_bypass,
                            DWORD flags) override
    {
        return ::InternetOpenA(agent, access_type, proxy, proxy_bypass, flags);
    }
    HINTERNET InternetConnectA(HINTERNET session, LPCSTR server, INTERNET_PORT port, LPCSTR username,
                               LPCSTR password, DWORD service, DWORD flags, DWORD_PTR context) override
    {
        return ::InternetConnectA(session, server, port, username, password, service, flags, context);
    }
    BOOL InternetCloseHandle(HINTERNET handle) override { return ::InternetCloseHandle(handle); }
    BOOL InternetGetLastResponseInfoA(LPDWORD error, LPSTR buffer, LPDWORD buffer_length) override
    {
        return ::InternetGetLastResponseInfoA(error, buffer, buffer_length);
    }
    BOOL InternetReadFile(HINTERNET handle, LPVOID buffer, DWORD bytes_to_read, LPDWORD bytes_read) override
    {
        return ::InternetReadFile(handle, buffer, bytes_to_read, bytes_read);
    }
    BOOL InternetWriteFile(HINTERNET handle, LPCVOID buffer, DWORD bytes_to_write, LPDWORD bytes_written) override
    {
        return ::InternetWriteFile(handle, buffer, bytes_to_write, bytes_written);
    }
    BOOL InternetFindNextFileA(HINTERNET search, LPVOID find_data) override
    {
        return ::InternetFindNextFileA(search, find_data);
    }
    BOOL FtpCommandA(HINTERNET connection, BOOL expect_response, DWORD flags, LPCSTR command, DWORD_PTR context,
                     HINTERNET* data_channel) override
    {
        return ::FtpCommandA(connection, expect_response, flags, command, context, data_channel);
    }
    BOOL FtpGetCurrentDirectoryA(HINTERNET connection, LPSTR directory, LPDWORD length) override
    {
        return ::FtpGetCurrentDirectoryA(connection, directory, length);
    }
    BOOL FtpSetCurrentDirectoryA(HINTERNET connection, LPCSTR directory) override
    {
        return ::FtpSetCurrentDirectoryA(connection, directory);
    }
    BOOL FtpCreateDirectoryA(HINTERNET connection, LPCSTR directory) override
    {
        return ::FtpCreateDirectoryA(connection, directory);
    }
    BOOL FtpRemoveDirectoryA(HINTERNET connection, LPCSTR directory) override
    {
        return ::FtpRemoveDirectoryA(connection, directory);
    }
    BOOL FtpRenameFileA(HINTERNET connection, LPCSTR existing_name, LPCSTR new_name) override
    {
        return ::FtpRenameFileA(connection, existing_name, new_name);
    }
    BOOL FtpDeleteFileA(HINTERNET connection, LPCSTR file_name) override
    {
        return ::FtpDeleteFileA(connection, file_name);
    }
    HINTERNET FtpFindFirstFileA(HINTERNET connection, LPCSTR search_text, LPWIN32_FIND_DATAA find_data, DWORD flags,
                                DWORD_PTR context) override
    {
        return ::FtpFindFirstFileA(connection, search_text, find_data, flags, context);
    }
    HINTERNET FtpOpenFileA(HINTERNET connection, LPCSTR file_name, DWORD access, DWORD flags,
                           DWORD_PTR context) override
    {
        return ::FtpOpenFileA(connection, file_name, access, flags, context);
    }
    HINTERNET HttpOpenRequestA(HINTERNET connection, LPCSTR verb, LPCSTR object_name, LPCSTR version,
                               LPCSTR referrer, LPCSTR* accept_types, DWORD flags, DWORD_PTR context) override
    {
        return ::HttpOpenRequestA(connection, verb, object_name, version, referrer, accept_types, flags, context);
    }
    BOOL HttpSendRequestA(HINTERNET request, LPCSTR headers, DWORD headers_length, LPVOID optional,
                          DWORD optional_length) override
    {
        return ::HttpSendRequestA(request, headers, headers_length, optional, optional_length);
    }
    BOOL HttpQueryInfoA(HINTERNET request, DWORD info_level, LPVOID buffer, LPDWORD buffer_length,
                        LPDWORD index) override
    {
        return ::HttpQueryInfoA(request, info_level, buffer, buffer_length, index);
    }
    BOOL InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD buffer_length) override
    {
        return ::InternetSetOptionA(handle, option, buffer, buffer_length);
    }
    BOOL InternetQueryOptionA(HINTERNET handle, DWORD option, LPVOID buffer, LPDWORD buffer_length) override
    {
        return ::InternetQueryOptionA(handle, option, buffer, buffer_length);
    }
    DWORD FtpGetFileSize(HINTERNET file, LPDWORD size_high) override { return ::FtpGetFileSize(file, size_high); }
};

RealWinInet the_real_wininet;
constinit Seam<WinInetPlatform> wininet_seam(the_real_wininet);

}  // namespace

WinInetPlatform& wininet()
{
    return wininet_seam.in_force();
}

WinInetPlatform& real_wininet()
{
    return wininet_seam.real();
}

WinInetPlatform* install_wininet(WinInetPlatform* replacement)
{
    return wininet_seam.install(replacement);
}

}  // namespace corvane
