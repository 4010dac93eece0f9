#pragma once

#include "frame/win32.h"

#include <string>
#include <string_view>

namespace corvane::ftp {

// A listing entry's time as display text in local time, fixed width so that
// listing columns line up: "MM/DD/YYYY HH:MM:SS  " (21 characters), or
// "unknown" and 13 spaces when the platform cannot convert it.
std::wstring file_time_text(const FILETIME& file_time);

}  // namespace corvane::ftp
