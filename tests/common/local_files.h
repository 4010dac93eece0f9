#pragma once
// Local files as the tests see them, beside what a transfer wrote.

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace corvane::tests {

inline std::string read_bytes(const std::filesystem::path& path)
{
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << stream.rdbuf();
    return bytes.str();
}

inline void write_bytes(const std::filesystem::path& path, const std::string& bytes)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// Removes a folder and everything in it, by names joined as text: a faulty
// download can leave names such as "a:b", which std::filesystem reads as
// a path on another drive. Bounded in depth and count, never throws.
inline void remove_tree(const std::wstring& path, int depth = 0)
{
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        int count = 0;
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring full = path + L"\\" + name;
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW(full.c_str());
            else if (depth < 16)
                remove_tree(full, depth + 1);
        } while (++count < 10000 && FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

}  // namespace corvane::tests
