#include "frame/platform.h"

#include "frame/seam.h"

namespace corvane {
namespace {

class RealPlatform final : public Platform {
public:
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
constinit Seam<Platform> platform_seam(the_real_platform);

}  // namespace

Platform& platform()
{
    return platform_seam.in_force();
}

Platform& real_platform()
{
    return platform_seam.real();
}

Platform* install_platform(Platform* replacement)
{
    return platform_seam.install(replacement);
}

}  // namespace corvane
