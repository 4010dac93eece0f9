#pragma once
// Every WinInet call the component makes goes through wininet(), for the
// reason frame/platform.h gives: tests install a replacement that records
// the calls and scripts results, output buffers and last-error codes.

#include "wininet/wininet.h"

namespace corvane {

class WinInetPlatform {
public:
    virtual ~WinInetPlatform() = default;

    virtual HINTERNET InternetOpenA(LPCSTR agent, DWORD access_type, LPCSTR proxy, LPCSTR proxy_bypass,
                                    DWORD flags) = 0;
    virtual HINTERNET InternetConnectA(HINTERNET session, LPCSTR server, INTERNET_PORT port, LPCSTR username,
                                       LPCSTR password, DWORD service, DWORD flags, DWORD_PTR context) = 0;
    virtual BOOL InternetCloseHandle(HINTERNET handle) = 0;
    virtual BOOL InternetGetLastResponseInfoA(LPDWORD error, LPSTR buffer, LPDWORD buffer_length) = 0;
    virtual BOOL InternetReadFile(HINTERNET handle, LPVOID buffer, DWORD bytes_to_read, LPDWORD bytes_read) = 0;
    virtual BOOL InternetWriteFile(HINTERNET handle, LPCVOID buffer, DWORD bytes_to_write,
                                   LPDWORD bytes_written) = 0;
    virtual BOOL InternetFindNextFileA(HINTERNET search, LPVOID find_data) = 0;
    virtual BOOL FtpCommandA(HINTERNET connection, BOOL expect_response, DWORD flags, LPCSTR command,
                             DWORD_PTR context, HINTERNET* data_channel) = 0;
    virtual BOOL FtpGetCurrentDirectoryA(HINTERNET connection, LPSTR directory, LPDWORD length) = 0;
    virtual BOOL FtpSetCurrentDirectoryA(HINTERNET connection, LPCSTR directory) = 0;
    virtual BOOL FtpCreateDirectoryA(HINTERNET connection, LPCSTR directory) = 0;
    virtual BOOL FtpRemoveDirectoryA(HINTERNET connection, LPCSTR directory) = 0;
    virtual BOOL FtpRenameFileA(HINTERNET connection, LPCSTR existing_name, LPCSTR new_name) = 0;
    virtual BOOL FtpDeleteFileA(HINTERNET connection, LPCSTR file_name) = 0;
    virtual HINTERNET FtpFindFirstFileA(HINTERNET connection, LPCSTR search_text, LPWIN32_FIND_DATAA find_data,
                                        DWORD flags, DWORD_PTR context) = 0;
    virtual HINTERNET FtpOpenFileA(HINTERNET connection, LPCSTR file_name, DWORD access, DWORD flags,
                                   DWORD_PTR context) = 0;
    virtual HINTERNET HttpOpenRequestA(HINTERNET connection, LPCSTR verb, LPCSTR object_name, LPCSTR version,
                                       LPCSTR referrer, LPCSTR* accept_types, DWORD flags, DWORD_PTR context) = 0;
    virtual BOOL HttpSendRequestA(HINTERNET request, LPCSTR headers, DWORD headers_length, LPVOID optional,
                                  DWORD optional_length) = 0;
    virtual BOOL HttpQueryInfoA(HINTERNET request, DWORD info_level, LPVOID buffer, LPDWORD buffer_length,
                                LPDWORD index) = 0;
    virtual BOOL InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD buffer_length) = 0;
    virtual BOOL InternetQueryOptionA(HINTERNET handle, DWORD option, LPVOID buffer, LPDWORD buffer_length) = 0;
    virtual DWORD FtpGetFileSize(HINTERNET file, LPDWORD size_high) = 0;
};

// The WinInet in force: the real one unless a test installed another.
WinInetPlatform& wininet();

// Installs a replacement (tests only); nullptr restores the real WinInet.
// Returns the one that was in force.
WinInetPlatform* install_wininet(WinInetPlatform* replacement);

// The real WinInet, for replacements that forward what they do not script.
WinInetPlatform& real_wininet();

}  // namespace corvane
