#include "tests/unit/fake_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace corvane::tests {

namespace {

std::string text_of_argument(const std::string& text)
{
    return text;
}

template <class Number>
    requires std::is_arithmetic_v<Number>
std::string text_of_argument(Number number)
{
    return std::to_string(number);
}

constexpr uintptr_t first_fake_handle = 0x1000;

}  // namespace

std::string quoted(LPCSTR text)
{
    if (!text)
        return "NULL";
    std::string result = "\"";
    result += text;
    result += '"';
    return result;
}

FakePlatform::FakePlatform() : previous_(install_platform(this)), previous_wininet_(install_wininet(this)) {}

FakePlatform::~FakePlatform()
{
    install_wininet(previous_wininet_);
    install_platform(previous_);
}

template <class... Arguments>
bool FakePlatform::record(const char* function, const Arguments&... arguments)
{
    calls.push_back({function, {text_of_argument(arguments)...}});
    return failing_now();
}

bool FakePlatform::failing_now()
{
    // GetLastError cannot fail: it only reports.
    if (!fail_call_index || *fail_call_index != calls.size() - 1 || calls.back().function == "GetLastError")
        return false;
    fail_call_index.reset();
    last_error = fail_code;
    ++failures_injected_;
    return true;
}

std::vector<HINTERNET> FakePlatform::open_handles() const
{
    return {open_.begin(), open_.end()};
}

std::vector<PlatformCall> FakePlatform::calls_to(const std::string& function) const
{
    std::vector<PlatformCall> result;
    for (const PlatformCall& call : calls) {
        if (call.function == function)
            result.push_back(call);
    }
    return result;
}

std::vector<std::string> FakePlatform::arguments_of(const std::string& function, size_t index) const
{
    constexpr size_t most_arguments = 16;
    const std::vector<PlatformCall> made = calls_to(function);
    if (index < made.size())
        return made[index].arguments;
    ADD_FAILURE() << "no call " << index << " of " << function << " (" << made.size() << " made)";
    return std::vector<std::string>(most_arguments, "<no call>");
}

size_t FakePlatform::count(const std::string& function) const
{
    return calls_to(function).size();
}

std::vector<std::string> FakePlatform::options_among(const std::vector<std::string>& functions) const
{
    std::vector<std::string> steps;
    for (const PlatformCall& call : calls) {
        if (call.function == "InternetSetOptionA" && call.arguments.size() == 4)
            steps.push_back(call.arguments[0] + " " + call.arguments[1] + "=" + call.arguments[2] + "/" +
                            call.arguments[3]);
        else if (std::find(functions.begin(), functions.end(), call.function) != functions.end())
            steps.push_back(call.function);
    }
    return steps;
}

HINTERNET FakePlatform::new_handle()
{
    auto handle = reinterpret_cast<HINTERNET>(first_fake_handle + next_handle_++);
    open_.insert(handle);
    ++opened_;
    return handle;
}

std::string FakePlatform::handle_name(HINTERNET handle)
{
    const auto value = reinterpret_cast<uintptr_t>(handle);
    if (value == 0)
        return "0";
    if (value > first_fake_handle)
        return "h" + std::to_string(value - first_fake_handle);
    return "raw" + std::to_string(value);
}

HINTERNET FakePlatform::handle_or_new(HINTERNET scripted)
{
    if (scripted && reinterpret_cast<uintptr_t>(scripted) > first_fake_handle && !open_.count(scripted)) {
        open_.insert(scripted);
        ++opened_;
    }
    return scripted;
}

HINTERNET FakePlatform::InternetOpenA(LPCSTR agent, DWORD access_type, LPCSTR proxy, LPCSTR proxy_bypass,
                                      DWORD flags)
{
    if (record("InternetOpenA", quoted(agent), access_type, quoted(proxy), quoted(proxy_bypass), flags))
        return nullptr;
    if (on_InternetOpenA)
        return handle_or_new(on_InternetOpenA(agent, access_type, proxy, proxy_bypass, flags));
    return new_handle();
}

HINTERNET FakePlatform::InternetConnectA(HINTERNET session, LPCSTR server, INTERNET_PORT port, LPCSTR username,
                                         LPCSTR password, DWORD service, DWORD flags, DWORD_PTR context)
{
    if (record("InternetConnectA", handle_name(session), quoted(server), port, quoted(username), quoted(password),
               service, flags, context))
        return nullptr;
    if (on_InternetConnectA)
        return handle_or_new(
            on_InternetConnectA(session, server, port, username, password, service, flags, context));
    return new_handle();
}

BOOL FakePlatform::InternetCloseHandle(HINTERNET handle)
{
    if (record("InternetCloseHandle", handle_name(handle)))
        return FALSE;
    if (on_InternetCloseHandle) {
        const BOOL closed = on_InternetCloseHandle(handle);
        if (closed)
            open_.erase(handle);
        return closed;
    }
    if (open_.erase(handle) == 0)
        return fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

BOOL FakePlatform::InternetGetLastResponseInfoA(LPDWORD error, LPSTR buffer, LPDWORD buffer_length)
{
    if (record("InternetGetLastResponseInfoA", *buffer_length))
        return FALSE;
    *error = 0;
    if (last_response.size() + 1 > *buffer_length) {
        *buffer_length = static_cast<DWORD>(last_response.size() + 1);
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, last_response.c_str(), last_response.size() + 1);
    *buffer_length = static_cast<DWORD>(last_response.size());
    return TRUE;
}

BOOL FakePlatform::InternetReadFile(HINTERNET handle, LPVOID buffer, DWORD bytes_to_read, LPDWORD bytes_read)
{
    if (record("InternetReadFile", handle_name(handle), bytes_to_read))
        return FALSE;
    if (on_InternetReadFile)
        return on_InternetReadFile(handle, buffer, bytes_to_read, bytes_read);
    *bytes_read = 0;
    return TRUE;
}

BOOL FakePlatform::InternetWriteFile(HINTERNET handle, LPCVOID buffer, DWORD bytes_to_write, LPDWORD bytes_written)
{
    if (record("InternetWriteFile", handle_name(handle), bytes_to_write))
        return FALSE;
    if (on_InternetWriteFile)
        return on_InternetWriteFile(handle, buffer, bytes_to_write, bytes_written);
    *bytes_written = bytes_to_write;
    return TRUE;
}

BOOL FakePlatform::InternetFindNextFileA(HINTERNET search, LPVOID find_data)
{
    if (record("InternetFindNextFileA", handle_name(search)))
        return FALSE;
    if (on_InternetFindNextFileA)
        return on_InternetFindNextFileA(search, find_data);
    return fail(ERROR_NO_MORE_FILES);
}

BOOL FakePlatform::FtpCommandA(HINTERNET connection, BOOL expect_response, DWORD flags, LPCSTR command,
                               DWORD_PTR context, HINTERNET* data_channel)
{
    if (record("FtpCommandA", handle_name(connection), expect_response, flags, quoted(command), context))
        return FALSE;
    if (on_FtpCommandA) {
        const BOOL succeeded = on_FtpCommandA(connection, expect_response, flags, command, context, data_channel);
        if (succeeded && data_channel)
            handle_or_new(*data_channel);
        return succeeded;
    }
    if (data_channel)
        *data_channel = expect_response ? new_handle() : nullptr;
    return TRUE;
}

BOOL FakePlatform::FtpGetCurrentDirectoryA(HINTERNET connection, LPSTR directory, LPDWORD length)
{
    if (record("FtpGetCurrentDirectoryA", handle_name(connection), *length))
        return FALSE;
    if (on_FtpGetCurrentDirectoryA)
        return on_FtpGetCurrentDirectoryA(connection, directory, length);
    std::strcpy(directory, "/");
    *length = 1;
    return TRUE;
}

BOOL FakePlatform::FtpSetCurrentDirectoryA(HINTERNET connection, LPCSTR directory)
{
    if (record("FtpSetCurrentDirectoryA", handle_name(connection), quoted(directory)))
        return FALSE;
    return on_FtpSetCurrentDirectoryA ? on_FtpSetCurrentDirectoryA(connection, directory) : TRUE;
}

BOOL FakePlatform::FtpCreateDirectoryA(HINTERNET connection, LPCSTR directory)
{
    if (record("FtpCreateDirectoryA", handle_name(connection), quoted(directory)))
        return FALSE;
    return on_FtpCreateDirectoryA ? on_FtpCreateDirectoryA(connection, directory) : TRUE;
}

BOOL FakePlatform::FtpRemoveDirectoryA(HINTERNET connection, LPCSTR directory)
{
    if (record("FtpRemoveDirectoryA", handle_name(connection), quoted(directory)))
        return FALSE;
    return on_FtpRemoveDirectoryA ? on_FtpRemoveDirectoryA(connection, directory) : TRUE;
}

BOOL FakePlatform::FtpRenameFileA(HINTERNET connection, LPCSTR existing_name, LPCSTR new_name)
{
    if (record("FtpRenameFileA", handle_name(connection), quoted(existing_name), quoted(new_name)))
        return FALSE;
    return on_FtpRenameFileA ? on_FtpRenameFileA(connection, existing_name, new_name) : TRUE;
}

BOOL FakePlatform::FtpDeleteFileA(HINTERNET connection, LPCSTR file_name)
{
    if (record("FtpDeleteFileA", handle_name(connection), quoted(file_name)))
        return FALSE;
    return on_FtpDeleteFileA ? on_FtpDeleteFileA(connection, file_name) : TRUE;
}

HINTERNET FakePlatform::FtpFindFirstFileA(HINTERNET connection, LPCSTR search_text, LPWIN32_FIND_DATAA find_data,
                                          DWORD flags, DWORD_PTR context)
{
    if (record("FtpFindFirstFileA", handle_name(connection), quoted(search_text), flags, context))
        return nullptr;
    if (on_FtpFindFirstFileA)
        return handle_or_new(on_FtpFindFirstFileA(connection, search_text, find_data, flags, context));
    last_error = ERROR_NO_MORE_FILES;
    return nullptr;
}

HINTERNET FakePlatform::FtpOpenFileA(HINTERNET connection, LPCSTR file_name, DWORD access, DWORD flags,
                                     DWORD_PTR context)
{
    if (record("FtpOpenFileA", handle_name(connection), quoted(file_name), access, flags, context))
        return nullptr;
    if (on_FtpOpenFileA)
        return handle_or_new(on_FtpOpenFileA(connection, file_name, access, flags, context));
    return new_handle();
}

HINTERNET FakePlatform::HttpOpenRequestA(HINTERNET connection, LPCSTR verb, LPCSTR object_name, LPCSTR version,
                                         LPCSTR referrer, LPCSTR* accept_types, DWORD flags, DWORD_PTR context)
{
    if (record("HttpOpenRequestA", handle_name(connection), quoted(verb), quoted(object_name), quoted(version),
               quoted(referrer), std::string(accept_types ? "types" : "NULL"), flags, context))
        return nullptr;
    if (on_HttpOpenRequestA)
        return handle_or_new(
            on_HttpOpenRequestA(connection, verb, object_name, version, referrer, accept_types, flags, context));
    return new_handle();
}

BOOL FakePlatform::HttpSendRequestA(HINTERNET request, LPCSTR headers, DWORD headers_length, LPVOID optional,
                                    DWORD optional_length)
{
    if (record("HttpSendRequestA", handle_name(request), quoted(headers), headers_length,
               std::string(optional ? "data" : "NULL"), optional_length))
        return FALSE;
    if (on_HttpSendRequestA)
        return on_HttpSendRequestA(request, headers, headers_length, optional, optional_length);
    return TRUE;
}

BOOL FakePlatform::HttpQueryInfoA(HINTERNET request, DWORD info_level, LPVOID buffer, LPDWORD buffer_length,
                                  LPDWORD index)
{
    if (record("HttpQueryInfoA", handle_name(request), info_level, *buffer_length, index ? *index : 0))
        return FALSE;
    if (on_HttpQueryInfoA)
        return on_HttpQueryInfoA(request, info_level, buffer, buffer_length, index);
    *buffer_length = 0;
    return TRUE;
}

BOOL FakePlatform::InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD buffer_length)
{
    if (record("InternetSetOptionA", handle_name(handle), option,
               buffer && buffer_length == sizeof(DWORD) ? *static_cast<const DWORD*>(buffer) : 0, buffer_length))
        return FALSE;
    return on_InternetSetOptionA ? on_InternetSetOptionA(handle, option, buffer, buffer_length) : TRUE;
}

// Unscripted, every option reads as a DWORD of 0.
BOOL FakePlatform::InternetQueryOptionA(HINTERNET handle, DWORD option, LPVOID buffer, LPDWORD buffer_length)
{
    if (record("InternetQueryOptionA", handle_name(handle), option))
        return FALSE;
    if (on_InternetQueryOptionA)
        return on_InternetQueryOptionA(handle, option, buffer, buffer_length);
    if (!buffer || !buffer_length || *buffer_length < sizeof(DWORD)) {
        last_error = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    *static_cast<DWORD*>(buffer) = 0;
    *buffer_length = sizeof(DWORD);
    return TRUE;
}

DWORD FakePlatform::FtpGetFileSize(HINTERNET file, LPDWORD size_high)
{
    if (record("FtpGetFileSize", handle_name(file)))
        return INVALID_FILE_SIZE;
    if (on_FtpGetFileSize)
        return on_FtpGetFileSize(file, size_high);
    if (size_high)
        *size_high = 0;
    last_error = ERROR_NOT_SUPPORTED;
    return INVALID_FILE_SIZE;
}

DWORD FakePlatform::GetLastError()
{
    record("GetLastError");
    return last_error;
}

HMODULE FakePlatform::GetModuleHandleA(LPCSTR module_name)
{
    if (record("GetModuleHandleA", quoted(module_name)))
        return nullptr;
    return on_GetModuleHandleA ? on_GetModuleHandleA(module_name) : real_platform().GetModuleHandleA(module_name);
}

DWORD FakePlatform::FormatMessageA(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id, LPSTR buffer,
                                   DWORD size, va_list* arguments)
{
    if (record("FormatMessageA", flags, message_id, language_id, size))
        return 0;
    if (on_FormatMessageA)
        return on_FormatMessageA(flags, source, message_id, language_id, buffer, size,
                                 arguments ? reinterpret_cast<const DWORD_PTR*>(*arguments) : nullptr);
    return real_platform().FormatMessageA(flags, source, message_id, language_id, buffer, size, arguments);
}

BOOL FakePlatform::FileTimeToLocalFileTime(const FILETIME* file_time, LPFILETIME local_file_time)
{
    if (record("FileTimeToLocalFileTime"))
        return FALSE;
    if (on_FileTimeToLocalFileTime)
        return on_FileTimeToLocalFileTime(file_time, local_file_time);
    return real_platform().FileTimeToLocalFileTime(file_time, local_file_time);
}

BOOL FakePlatform::FileTimeToSystemTime(const FILETIME* file_time, LPSYSTEMTIME system_time)
{
    if (record("FileTimeToSystemTime"))
        return FALSE;
    if (on_FileTimeToSystemTime)
        return on_FileTimeToSystemTime(file_time, system_time);
    return real_platform().FileTimeToSystemTime(file_time, system_time);
}

// Text conversions are not recorded: they are not calls a member makes
// for its own behaviour, and they would drown the log.
int FakePlatform::MultiByteToWideChar(UINT code_page, DWORD flags, LPCCH text, int length, LPWSTR wide_text,
                                      int wide_length)
{
    if (code_page == CP_ACP && ansi_code_page)
        code_page = ansi_code_page;
    if (on_MultiByteToWideChar)
        return on_MultiByteToWideChar(code_page, flags, text, length, wide_text, wide_length);
    return real_platform().MultiByteToWideChar(code_page, flags, text, length, wide_text, wide_length);
}

int FakePlatform::WideCharToMultiByte(UINT code_page, DWORD flags, LPCWCH wide_text, int wide_length, LPSTR text,
                                      int length, LPCCH default_char, LPBOOL used_default_char)
{
    if (code_page == CP_ACP && ansi_code_page)
        code_page = ansi_code_page;
    if (on_WideCharToMultiByte)
        return on_WideCharToMultiByte(code_page, flags, wide_text, wide_length, text, length, default_char,
                                      used_default_char);
    return real_platform().WideCharToMultiByte(code_page, flags, wide_text, wide_length, text, length,
                                               default_char, used_default_char);
}

// Path resolution is pure text work: forwarded, so tests see the real rules.
DWORD FakePlatform::GetFullPathNameW(LPCWSTR path, DWORD length, LPWSTR full_path, LPWSTR* file_part)
{
    if (record("GetFullPathNameW", length))
        return 0;
    if (on_GetFullPathNameW)
        return on_GetFullPathNameW(path, length, full_path, file_part);
    return real_platform().GetFullPathNameW(path, length, full_path, file_part);
}

int FakePlatform::LCMapStringW(LCID locale, DWORD flags, LPCWSTR text, int length, LPWSTR mapped, int mapped_length)
{
    return real_platform().LCMapStringW(locale, flags, text, length, mapped, mapped_length);
}

}  // namespace corvane::tests
