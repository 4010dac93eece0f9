#pragma once
// Every kernel32 call the component's members make goes through platform()
// (WinInet's have a seam of their own, wininet/platform.h). The shipped DLL
// forwards to the real system; tests install a replacement that records the
// calls and scripts results, output buffers and last-error codes, which is
// how error paths that no real server produces get exercised.

#include "frame/win32.h"

#include <cstdarg>

namespace corvane {

class Platform {
public:
    virtual ~Platform() = default;

    virtual DWORD GetLastError() = 0;
    virtual HMODULE GetModuleHandleA(LPCSTR module_name) = 0;
    virtual DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id, LPSTR buffer,
                                 DWORD size, va_list* arguments) = 0;
    virtual BOOL FileTimeToLocalFileTime(const FILETIME* file_time, LPFILETIME local_file_time) = 0;
    virtual BOOL FileTimeToSystemTime(const FILETIME* file_time, LPSYSTEMTIME system_time) = 0;
    virtual int MultiByteToWideChar(UINT code_page, DWORD flags, LPCCH text, int length, LPWSTR wide_text,
                                    int wide_length) = 0;
    virtual int WideCharToMultiByte(UINT code_page, DWORD flags, LPCWCH wide_text, int wide_length, LPSTR text,
                                    int length, LPCCH default_char, LPBOOL used_default_char) = 0;
    virtual DWORD GetFullPathNameW(LPCWSTR path, DWORD length, LPWSTR full_path, LPWSTR* file_part) = 0;
    virtual int LCMapStringW(LCID locale, DWORD flags, LPCWSTR text, int length, LPWSTR mapped,
                             int mapped_length) = 0;
};

// The platform in force: the real one unless a test installed another.
Platform& platform();

// Installs a replacement (tests only); nullptr restores the real platform.
// Returns the one that was in force.
Platform* install_platform(Platform* replacement);

// The real system, for replacements that forward what they do not script.
Platform& real_platform();

}  // namespace corvane
