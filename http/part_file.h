#pragma once
// A download's file: written beside its destination under a name of its
// own, put in the destination's place only once complete. Until then an
// existing file stays as it was; a download that fails leaves nothing.

#include "frame/handles.h"

#include <string>
#include <string_view>

namespace corvane::http {

class PartFile {
public:
    // Raises save_to_file when the destination's folder takes no new file.
    explicit PartFile(std::wstring_view destination);
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    // Removes the part file unless it was committed.
    ~PartFile();

    void write(const char* bytes, size_t count);
    // Replaces the destination with what was written.
    void commit();

private:
    std::wstring destination_;
    std::wstring part_path_;
    FileHandle file_;
    bool committed_ = false;
};

}  // namespace corvane::http
