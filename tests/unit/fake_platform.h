#pragma once
// A scripted stand-in for WinInet and kernel32. While one exists it is both
// seams in force, wininet() and platform(): every call is recorded, in one
// list, with its arguments, answered by the test's handler (or a plain
// default), and handles are counted.
//
// Defaults: handle-returning calls hand out a new handle, Boolean calls
// succeed with nothing written, reads deliver 0 bytes, a find-next ends the
// listing (18), writes take every byte, GetLastError returns last_error, and the kernel32 text and
// time functions and path resolution forward to the real system, and a
// file size is unknown (INVALID_FILE_SIZE, ERROR_NOT_SUPPORTED).

#include "frame/platform.h"
#include "wininet/platform.h"

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace corvane::tests {

struct PlatformCall {
    std::string function;
    std::vector<std::string> arguments;
};

class FakePlatform final : public Platform, public WinInetPlatform {
public:
    FakePlatform();
    ~FakePlatform() override;
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;

    // Recording.
    std::vector<PlatformCall> calls;
    std::vector<PlatformCall> calls_to(const std::string& function) const;
    size_t count(const std::string& function) const;
    // The arguments of the function's call at `index`. Without such a call
    // the test fails and gets placeholders enough for any argument index,
    // so that its next checks fail too instead of reading past the end.
    std::vector<std::string> arguments_of(const std::string& function, size_t index = 0) const;
    // The recorded calls to `functions` by name, in order, with each option
    // set on a handle shown as "h1 2=60000/4" (handle, option = value/size).
    std::vector<std::string> options_among(const std::vector<std::string>& functions) const;

    // Handles: what the fake handed out and what was closed.
    HINTERNET new_handle();
    static std::string handle_name(HINTERNET handle);
    size_t handles_opened() const { return opened_; }
    size_t handles_open() const { return open_.size(); }

    // What GetLastError answers; handlers set it for their failures.
    DWORD last_error = 0;
    // Sets last_error and returns the failure value of a call.
    BOOL fail(DWORD code)
    {
        last_error = code;
        return FALSE;
    }
    // The system's ANSI code page as text conversions see it; 0 keeps the
    // machine's own.
    UINT ansi_code_page = 0;
    // What InternetGetLastResponseInfoA copies out.
    std::string last_response;

    // Fault injection: the call recorded at this index of `calls` returns
    // its failure value (FALSE, no handle, 0, INVALID_FILE_SIZE) without
    // running its handler and sets last_error to fail_code. It fires once;
    // GetLastError never fails.
    std::optional<size_t> fail_call_index;
    DWORD fail_code = 12345;
    size_t failures_injected() const { return failures_injected_; }
    std::vector<HINTERNET> open_handles() const;

    std::function<HINTERNET(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD)> on_InternetOpenA;
    std::function<HINTERNET(HINTERNET, LPCSTR, INTERNET_PORT, LPCSTR, LPCSTR, DWORD, DWORD, DWORD_PTR)>
        on_InternetConnectA;
    std::function<BOOL(HINTERNET)> on_InternetCloseHandle;
    std::function<BOOL(HINTERNET, LPVOID, DWORD, LPDWORD)> on_InternetReadFile;
    std::function<BOOL(HINTERNET, LPCVOID, DWORD, LPDWORD)> on_InternetWriteFile;
    std::function<BOOL(HINTERNET, LPVOID)> on_InternetFindNextFileA;
    std::function<BOOL(HINTERNET, BOOL, DWORD, LPCSTR, DWORD_PTR, HINTERNET*)> on_FtpCommandA;
    std::function<BOOL(HINTERNET, LPSTR, LPDWORD)> on_FtpGetCurrentDirectoryA;
    std::function<BOOL(HINTERNET, LPCSTR)> on_FtpSetCurrentDirectoryA;
    std::function<BOOL(HINTERNET, LPCSTR)> on_FtpCreateDirectoryA;
    std::function<BOOL(HINTERNET, LPCSTR)> on_FtpRemoveDirectoryA;
    std::function<BOOL(HINTERNET, LPCSTR, LPCSTR)> on_FtpRenameFileA;
    std::function<BOOL(HINTERNET, LPCSTR)> on_FtpDeleteFileA;
    std::function<HINTERNET(HINTERNET, LPCSTR, LPWIN32_FIND_DATAA, DWORD, DWORD_PTR)> on_FtpFindFirstFileA;
    std::function<HINTERNET(HINTERNET, LPCSTR, DWORD, DWORD, DWORD_PTR)> on_FtpOpenFileA;
    std::function<HINTERNET(HINTERNET, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPCSTR*, DWORD, DWORD_PTR)>
        on_HttpOpenRequestA;
    std::function<BOOL(HINTERNET, LPCSTR, DWORD, LPVOID, DWORD)> on_HttpSendRequestA;
    std::function<BOOL(HINTERNET, DWORD, LPVOID, LPDWORD, LPDWORD)> on_HttpQueryInfoA;
    std::function<BOOL(HINTERNET, DWORD, LPVOID, DWORD)> on_InternetSetOptionA;
    std::function<BOOL(HINTERNET, DWORD, LPVOID, LPDWORD)> on_InternetQueryOptionA;
    std::function<DWORD(HINTERNET, LPDWORD)> on_FtpGetFileSize;
    std::function<DWORD(LPCWSTR, DWORD, LPWSTR, LPWSTR*)> on_GetFullPathNameW;
    std::function<HMODULE(LPCSTR)> on_GetModuleHandleA;
    // The inserts come as the argument array the va_list points at.
    std::function<DWORD(DWORD, LPCVOID, DWORD, DWORD, LPSTR, DWORD, const DWORD_PTR*)> on_FormatMessageA;
    std::function<BOOL(const FILETIME*, LPFILETIME)> on_FileTimeToLocalFileTime;
    std::function<BOOL(const FILETIME*, LPSYSTEMTIME)> on_FileTimeToSystemTime;
    // Conversions: handlers see the code page after ansi_code_page applied,
    // and forward what they do not script to real_platform().
    std::function<int(UINT, DWORD, LPCCH, int, LPWSTR, int)> on_MultiByteToWideChar;
    std::function<int(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL)> on_WideCharToMultiByte;

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
    BOOL InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD buffer_length) override;
    BOOL InternetQueryOptionA(HINTERNET handle, DWORD option, LPVOID buffer, LPDWORD buffer_length) override;
    DWORD FtpGetFileSize(HINTERNET file, LPDWORD size_high) override;

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
    DWORD GetFullPathNameW(LPCWSTR path, DWORD length, LPWSTR full_path, LPWSTR* file_part) override;
    int LCMapStringW(LCID locale, DWORD flags, LPCWSTR text, int length, LPWSTR mapped, int mapped_length) override;

private:
    // Records the call; true when it is the one to fail.
    template <class... Arguments>
    bool record(const char* function, const Arguments&... arguments);
    bool failing_now();
    HINTERNET handle_or_new(HINTERNET scripted);

    Platform* previous_ = nullptr;
    WinInetPlatform* previous_wininet_ = nullptr;
    size_t opened_ = 0;
    size_t next_handle_ = 1;
    size_t failures_injected_ = 0;
    std::set<HINTERNET> open_;
};

// Argument texts as recorded: strings quoted or NULL, numbers in decimal,
// handles as h1, h2, ... (0 for none).
std::string quoted(LPCSTR text);

}  // namespace corvane::tests
