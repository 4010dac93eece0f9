#pragma once
// Local paths in the platform's full form.

#include <string>

namespace corvane {

// The platform's full form of a path (resolved against the process's
// current folder); empty when it cannot resolve it, its last error saying
// why.
std::wstring full_path(const std::wstring& path);

}  // namespace corvane
