#pragma once
// A platform that serves a generated directory and an HTTP response without
// recording anything, so that the benchmarks time the component and not
// the seam. Text and time conversions go to the real system, as the
// component's own work would.

#include "frame/platform.h"
#include "wininet/platform.h"

#include <string>
#include <vector>

namespace corvane::bench {

class BenchPlatform final : public Platform, public WinInetPlatform {
public:
    BenchPlatform();
    ~BenchPlatform() override;
    BenchPlatform(const BenchPlatform&) = delete;
    BenchPlatform& operator=(const BenchPlatform&) = delete;

    // The directory every find lists: `entries` records, every tenth a
    // directory, names unique.
    size_t entries = 0;
    // What record `index` of the directory holds.
    static WIN32_FIND_DATAA record(size_t index);

    // The HTTP response: a small header block, then `body_size` bytes of
    // ASCII text in reads of at most `read_size` bytes.
    size_t body_size = 0;
    DWORD read_size = 32768;

    HINTERNET InternetOpenA(LPCSTR agent, DWORD access_type, LPCSTR proxy, LPCSTR proxy_bypass,
                            DWORD flags) override;
    HINTERNET InternetConnectA(HINTERNET session, LPCSTR server, INTERNET_PORT port, LPCSTR username,
                               LPCSTR password, DWORD service, DWORD flags, DWORD_PTR context) override;
    BOOL InternetCloseHandle(HINTERNET handle) override;
    BOOL InternetGetLastResponseInfoA(LPDWORD error, LPSTR buffer, LPDWORD buffer_length) override;
    BOOL InternetReadFile(HINTERNET handle, LPVOID buffer, DWORD bytes_to_read, LPDWORD bytes_read) override;
    BOOL InternetWriteFile(HINTERNET handle, LPCVOID buffer, DWORD bytes_to_write, LPDWORD bytes_written) override;
    BOOL InternetFindNextFileA(HINTERNET search, LPVOID find_data) override;
    BOOL FtpCommandA(HINTERNET connection, BOOL expect_response, DWORD flags, LPCSTR command, DWORD_PTR context,
                     HINTERNET* data_channel) override;
    BOOL FtpGetCurrentDirectoryA(HINTERNET connection, LPSTR directory, LPDWORD length) override;
    BOOL FtpSetCurrentDirectoryA(HINTERNET connection, LPCSTR directory) override;
    BOOL FtpCreateDirectoryA(HINTERNET connection, LPCSTR directory) override;
    BOOL FtpRemoveDirectoryA(HINTERNET connection, LPCSTR directory) override;
    BOOL FtpRenameFileA(HINTERNET connection, LPCSTR existing_name, LPCSTR new_name) override;
    BOOL FtpDeleteFileA(HINTERNET connection, LPCSTR file_name) override;
    HINTERNET FtpFindFirstFileA(HINTERNET connection, LPCSTR search_text, LPWIN32_FIND_DATAA find_data, DWORD flags,
                                DWORD_PTR context) override;
    HINTERNET FtpOpenFileA(HINTERNET connection, LPCSTR file_name, DWORD access, DWORD flags,
                           DWORD_PTR context) override;
    HINTERNET HttpOpenRequestA(HINTERNET connection, LPCSTR verb, LPCSTR object_name, LPCSTR version,
                               LPCSTR referrer, LPCSTR* accept_types, DWORD flags, DWORD_PTR context) override;
    BOOL HttpSendRequestA(HINTERNET request, LPCSTR headers, DWORD headers_length, LPVOID optional,
                          DWORD optional_length) override;
    BOOL HttpQueryInfoA(HINTERNET request, DWORD info_level, LPVOID buffer, LPDWORD buffer_length,
                        LPDWORD index) override;

    DWORD GetLastError() override;
    HMODULE GetModuleHandleA(LPCSTR module_name) override;
    DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id, LPSTR buffer,
                         DWORD size, va_list* arguments) override;
    BOOL FileTimeToLocalFileTime(const FILETIME* file_time, LPFILETIME local_file_time) override;
    BOOL FileTimeToSystemTime(const FILETIME* file_time, LPSYSTEMTIME system_time) override;
    int MultiByteToWideChar(UINT code_page, DWORD flags, LPCCH text, int length, LPWSTR wide_text,
                            int wide_length) override;
    int WideCharToMultiByte(UINT code_page, DWORD flags, LPCWCH wide_text, int wide_length, LPSTR text, int length,
                            LPCCH default_char, LPBOOL used_default_char) override;
    BOOL InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD buffer_length) override;
    BOOL InternetQueryOptionA(HINTERNET handle, DWORD option, LPVOID buffer, LPDWORD buffer_length) override;
    DWORD FtpGetFileSize(HINTERNET file, LPDWORD size_high) override;
    DWORD GetFullPathNameW(LPCWSTR path, DWORD length, LPWSTR full_path, LPWSTR* file_part) override;
    int LCMapStringW(LCID locale, DWORD flags, LPCWSTR text, int length, LPWSTR mapped, int mapped_length) override;

private:
    HINTERNET new_handle();
    BOOL fail(DWORD code);

    Platform* previous_ = nullptr;
    WinInetPlatform* previous_wininet_ = nullptr;
    DWORD last_error_ = 0;
    uintptr_t next_handle_ = 0x1000;
    size_t next_entry_ = 0;
    size_t body_sent_ = 0;
    std::string header_block_;
    // One read's worth of text, sent again and again: the server side holds
    // no copy of the body, so memory figures are the component's alone.
    std::vector<char> pattern_;
};

}  // namespace corvane::bench
