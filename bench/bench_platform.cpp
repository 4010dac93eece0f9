#include "bench/bench_platform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace corvane::bench {

namespace {

// 1 February 2004, 09:05:03, as a file time.
constexpr ULONGLONG february_2004 = 127200999030000000ULL;
constexpr ULONGLONG one_second = 10000000ULL;

}  // namespace

BenchPlatform::BenchPlatform()
    : previous_(install_platform(this)), previous_wininet_(install_wininet(this)), pattern_(32768)
{
    // Lines of printable ASCII: one byte is one character, so the wide text
    // is exactly twice the body.
    for (size_t index = 0; index < pattern_.size(); ++index)
        pattern_[index] = (index % 64 == 63) ? '\n' : static_cast<char>('a' + index % 26);
}

BenchPlatform::~BenchPlatform()
{
    install_wininet(previous_wininet_);
    install_platform(previous_);
}

WIN32_FIND_DATAA BenchPlatform::record(size_t index)
{
    WIN32_FIND_DATAA data{};
    const bool directory = index % 10 == 0;
    std::snprintf(data.cFileName, sizeof data.cFileName, directory ? "folder_%07zu" : "report_%07zu.dat", index);
    data.dwFileAttributes = directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    data.nFileSizeLow = directory ? 0 : static_cast<DWORD>(index * 37 + 1);
    const ULONGLONG time = february_2004 + index * one_second;
    for (FILETIME* field : {&data.ftCreationTime, &data.ftLastAccessTime, &data.ftLastWriteTime}) {
        field->dwLowDateTime = static_cast<DWORD>(time);
        field->dwHighDateTime = static_cast<DWORD>(time >> 32);
    }
    return data;
}

HINTERNET BenchPlatform::new_handle()
{
    return reinterpret_cast<HINTERNET>(next_handle_++);
}

BOOL BenchPlatform::fail(DWORD code)
{
    last_error_ = code;
    return FALSE;
}

HINTERNET BenchPlatform::InternetOpenA(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD)
{
    return new_handle();
}

HINTERNET BenchPlatform::InternetConnectA(HINTERNET, LPCSTR, INTERNET_PORT, LPCSTR, LPCSTR, DWORD, DWORD, DWORD_PTR)
{
    return new_handle();
}

BOOL BenchPlatform::InternetCloseHandle(HINTERNET)
{
    return TRUE;
}

BOOL BenchPlatform::InternetGetLastResponseInfoA(LPDWORD error, LPSTR buffer, LPDWORD buffer_length)
{
    *error = 0;
    if (*buffer_length > 0)
        buffer[0] = '\0';
    *buffer_length = 0;
    return TRUE;
}

BOOL BenchPlatform::InternetReadFile(HINTERNET, LPVOID buffer, DWORD bytes_to_read, LPDWORD bytes_read)
{
    const size_t count = std::min({static_cast<size_t>(bytes_to_read), static_cast<size_t>(read_size),
                                   pattern_.size(), body_size - body_sent_});
    std::memcpy(buffer, pattern_.data(), count);
    body_sent_ += count;
    *bytes_read = static_cast<DWORD>(count);
    return TRUE;
}

BOOL BenchPlatform::InternetWriteFile(HINTERNET, LPCVOID, DWORD bytes_to_write, LPDWORD bytes_written)
{
    *bytes_written = bytes_to_write;
    return TRUE;
}

BOOL BenchPlatform::InternetFindNextFileA(HINTERNET, LPVOID find_data)
{
    if (next_entry_ >= entries)
        return fail(ERROR_NO_MORE_FILES);
    *static_cast<WIN32_FIND_DATAA*>(find_data) = record(next_entry_++);
    return TRUE;
}

BOOL BenchPlatform::FtpCommandA(HINTERNET, BOOL, DWORD, LPCSTR, DWORD_PTR, HINTERNET* data_channel)
{
    if (data_channel)
        *data_channel = nullptr;
    return TRUE;
}

BOOL BenchPlatform::FtpGetCurrentDirectoryA(HINTERNET, LPSTR directory, LPDWORD length)
{
    constexpr char root[] = "/pub/";
    if (*length < sizeof root) {
        *length = sizeof root;
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(directory, root, sizeof root);
    *length = sizeof root - 1;
    return TRUE;
}

BOOL BenchPlatform::FtpSetCurrentDirectoryA(HINTERNET, LPCSTR)
{
    return TRUE;
}

BOOL BenchPlatform::FtpCreateDirectoryA(HINTERNET, LPCSTR)
{
    return TRUE;
}

BOOL BenchPlatform::FtpRemoveDirectoryA(HINTERNET, LPCSTR)
{
    return TRUE;
}

BOOL BenchPlatform::FtpRenameFileA(HINTERNET, LPCSTR, LPCSTR)
{
    return TRUE;
}

BOOL BenchPlatform::FtpDeleteFileA(HINTERNET, LPCSTR)
{
    return TRUE;
}

HINTERNET BenchPlatform::FtpFindFirstFileA(HINTERNET, LPCSTR, LPWIN32_FIND_DATAA find_data, DWORD, DWORD_PTR)
{
    next_entry_ = 0;
    if (entries == 0) {
        last_error_ = ERROR_NO_MORE_FILES;
        return nullptr;
    }
    *find_data = record(next_entry_++);
    return new_handle();
}

HINTERNET BenchPlatform::FtpOpenFileA(HINTERNET, LPCSTR, DWORD, DWORD, DWORD_PTR)
{
    return new_handle();
}

HINTERNET BenchPlatform::HttpOpenRequestA(HINTERNET, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPCSTR*, DWORD, DWORD_PTR)
{
    return new_handle();
}

BOOL BenchPlatform::HttpSendRequestA(HINTERNET, LPCSTR, DWORD, LPVOID, DWORD)
{
    body_sent_ = 0;
    header_block_ = "HTTP/1.1 200 OK";
    header_block_ += '\0';
    header_block_ += "Content-Type: text/plain";
    header_block_ += '\0';
    header_block_ += "Content-Length: " + std::to_string(body_size);
    header_block_ += '\0';
    header_block_ += '\0';
    return TRUE;
}

BOOL BenchPlatform::HttpQueryInfoA(HINTERNET, DWORD info_level, LPVOID buffer, LPDWORD buffer_length, LPDWORD)
{
    if (info_level == HTTP_QUERY_RAW_HEADERS) {
        if (header_block_.size() + 1 > *buffer_length) {
            *buffer_length = static_cast<DWORD>(header_block_.size() + 1);
            return fail(ERROR_INSUFFICIENT_BUFFER);
        }
        std::memcpy(buffer, header_block_.data(), header_block_.size());
        static_cast<char*>(buffer)[header_block_.size()] = '\0';
        *buffer_length = static_cast<DWORD>(header_block_.size());
        return TRUE;
    }
    if (*buffer_length < sizeof(DWORD))
        return fail(ERROR_INSUFFICIENT_BUFFER);
    *static_cast<DWORD*>(buffer) = 200;
    *buffer_length = sizeof(DWORD);
    return TRUE;
}

DWORD BenchPlatform::GetLastError()
{
    return last_error_;
}

HMODULE BenchPlatform::GetModuleHandleA(LPCSTR module_name)
{
    return real_platform().GetModuleHandleA(module_name);
}

DWORD BenchPlatform::FormatMessageA(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id, LPSTR buffer,
                                    DWORD size, va_list* arguments)
{
    return real_platform().FormatMessageA(flags, source, message_id, language_id, buffer, size, arguments);
}

BOOL BenchPlatform::FileTimeToLocalFileTime(const FILETIME* file_time, LPFILETIME local_file_time)
{
    return real_platform().FileTimeToLocalFileTime(file_time, local_file_time);
}

BOOL BenchPlatform::FileTimeToSystemTime(const FILETIME* file_time, LPSYSTEMTIME system_time)
{
    return real_platform().FileTimeToSystemTime(file_time, system_time);
}

int BenchPlatform::MultiByteToWideChar(UINT code_page, DWORD flags, LPCCH text, int length, LPWSTR wide_text,
                                       int wide_length)
{
    return real_platform().MultiByteToWideChar(code_page, flags, text, length, wide_text, wide_length);
}

int BenchPlatform::WideCharToMultiByte(UINT code_page, DWORD flags, LPCWCH wide_text, int wide_length, LPSTR text,
                                       int length, LPCCH default_char, LPBOOL used_default_char)
{
    return real_platform().WideCharToMultiByte(code_page, flags, wide_text, wide_length, text, length, default_char,
                                               used_default_char);
}

BOOL BenchPlatform::InternetSetOptionA(HINTERNET, DWORD, LPVOID, DWORD)
{
    return TRUE;
}

// The benchmarks ask for no option whose value they depend on.
BOOL BenchPlatform::InternetQueryOptionA(HINTERNET, DWORD, LPVOID, LPDWORD)
{
    return TRUE;
}

DWORD BenchPlatform::FtpGetFileSize(HINTERNET, LPDWORD size_high)
{
    if (size_high)
        *size_high = 0;
    return static_cast<DWORD>(body_size);
}

DWORD BenchPlatform::GetFullPathNameW(LPCWSTR path, DWORD length, LPWSTR full_path, LPWSTR* file_part)
{
    return real_platform().GetFullPathNameW(path, length, full_path, file_part);
}

int BenchPlatform::LCMapStringW(LCID locale, DWORD flags, LPCWSTR text, int length, LPWSTR mapped, int mapped_length)
{
    return real_platform().LCMapStringW(locale, flags, text, length, mapped, mapped_length);
}

}  // namespace corvane::bench
