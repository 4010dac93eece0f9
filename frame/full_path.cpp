#include "frame/full_path.h"

#include "frame/platform.h"

namespace corvane {

namespace {

// The length asked for only grows if another thread moves the current
// folder between calls; a few tries settle it.
constexpr size_t full_path_attempts = 3;

}  // namespace

std::wstring full_path(const std::wstring& path)
{
    std::wstring result(MAX_PATH, L'\0');
    for (size_t attempt = 0; attempt < full_path_attempts; ++attempt) {
        const DWORD length =
            platform().GetFullPathNameW(path.c_str(), static_cast<DWORD>(result.size()), result.data(), nullptr);
        if (length == 0)
            return {};
        if (length < result.size()) {
            result.resize(length);
            return result;
        }
        // Too small: the length asked for counts the terminating NUL.
        result.assign(length, L'\0');
    }
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return {};
}

}  // namespace corvane
