#include "http/part_file.h"

#include "frame/error.h"
#include "frame/error_text.h"
#include "frame/full_path.h"
#include "frame/platform.h"
#include "frame/text.h"
#include "http/http_errors.h"
#include "wininet/error_text.h"

#include <algorithm>
#include <vector>

namespace corvane::http {

namespace {

constexpr std::wstring_view procedure = L"SaveToFile";
constexpr DWORD largest_write = 1024 * 1024;

// File calls are the system's own, not the platform seam's: their
// last-error code is read from the system.
[[noreturn]] void raise_file_failure()
{
    raise_platform_error(errors::save_to_file, static_cast<LONG>(GetLastError()), procedure);
}

std::wstring full_path_of(std::wstring_view path)
{
    if (trim_spaces(path).empty())
        raise_with_reason(errors::save_to_file, L"No file name was given.");
    if (std::any_of(path.begin(), path.end(), is_control_character))
        raise_with_reason(errors::save_to_file, L"The file name holds a control character.");
    std::wstring full = full_path(std::wstring(path));
    if (full.empty())
        raise_platform_failure(errors::save_to_file, procedure);
    // The platform's full form ends in a separator exactly when it has no
    // file part.
    if (full.back() == L'\\' || full.back() == L'/')
        raise_with_reason(errors::save_to_file, L"The path names a folder, not a file.");
    return full;
}

}  // namespace

PartFile::PartFile(std::wstring_view destination) : destination_(full_path_of(destination))
{
    const std::wstring folder = destination_.substr(0, destination_.find_last_of(L"\\/") + 1);
    // A unique name in the destination's folder: on the same volume the
    // final move is a rename, never a copy.
    std::vector<wchar_t> part(MAX_PATH + 1, L'\0');
    if (!GetTempFileNameW(folder.c_str(), L"cvn", 0, part.data()))
        raise_file_failure();
    part_path_ = part.data();
    file_ = FileHandle(CreateFileW(part_path_.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (file_.get() == INVALID_HANDLE_VALUE) {
        file_.release();
        const LONG code = static_cast<LONG>(GetLastError());
        DeleteFileW(part_path_.c_str());
        raise_platform_error(errors::save_to_file, code, procedure);
    }
}

PartFile::~PartFile()
{
    if (committed_)
        return;
    file_ = FileHandle();
    DeleteFileW(part_path_.c_str());
}

void PartFile::write(const char* bytes, size_t count)
{
    while (count > 0) {
        const DWORD wanted = static_cast<DWORD>(std::min<size_t>(count, largest_write));
        DWORD written = 0;
        if (!WriteFile(file_.get(), bytes, wanted, &written, nullptr))
            raise_file_failure();
        if (written == 0)
            raise_with_reason(errors::save_to_file, L"The file takes no more bytes.");
        bytes += written;
        count -= written;
    }
}

void PartFile::commit()
{
    if (!file_.close())
        raise_file_failure();
    if (!MoveFileExW(part_path_.c_str(), destination_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        raise_file_failure();
    committed_ = true;
}

}  // namespace corvane::http
