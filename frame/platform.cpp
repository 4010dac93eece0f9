#include "frame/platform.h"

namespace corvane {
namespace {

class RealPlatform final : public Platform {
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

    DWORD GetLastError() override { return ::GetLastError(); }
    HMODULE GetModuleHandleA(LPCSTR module_name) override { return ::GetModuleHandleA(module_name); }
    DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id, LPSTR buffer,
                         DWORD size, va_list* arguments) override
    {
        return ::FormatMessageA(flags, source, message_id, language_id, buffer, size, arguments);
    }
    BOOL FileTimeToLocalFileTime(const FILETIME* file_time, LPFILETIME local_file_time) override
    {
        return ::FileTimeToLocalFileTime(file_time, local_file_time);
    }
    BOOL FileTimeToSystemTime(const FILETIME* file_time, LPSYSTEMTIME system_time) override
    {
        return ::FileTimeToSystemTime(file_time, system_time);
    }
    int MultiByteToWideChar(UINT code_page, DWORD flags, LPCCH text, int length, LPWSTR wide_text,
                            int wide_length) override
    {
        return ::MultiByteToWideChar(code_page, flags, text, length, wide_text, wide_length);
    }
    int WideCharToMultiByte(UINT code_page, DWORD flags, LPCWCH wide_text, int wide_length, LPSTR text, int length,
                            LPCCH default_char, LPBOOL used_default_char) override
    {
        return ::WideCharToMultiByte(code_page, flags, wide_text, wide_length, text, length, default_char,
                                     used_default_char);
    }
    DWORD GetFullPathNameW(LPCWSTR path, DWORD length, LPWSTR full_path, LPWSTR* file_part) override
    {
        return ::GetFullPathNameW(path, length, full_path, file_part);
    }
    int LCMapStringW(LCID locale, DWORD flags, LPCWSTR text, int length, LPWSTR mapped, int mapped_length) override
    {
        return ::LCMapStringW(locale, flags, text, length, mapped, mapped_length);
    }
};

RealPlatform the_real_platform;
Platform* platform_in_force = &the_real_platform;

}  // namespace

Platform& platform()
{
    return *platform_in_force;
}

Platform& real_platform()
{
    return the_real_platform;
}

Platform* install_platform(Platform* replacement)
{
    Platform* previous = platform_in_force;
    platform_in_force = replacement ? replacement : &the_real_platform;
    return previous;
}

}  // namespace corvane
