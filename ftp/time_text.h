#pragma once

#include "frame/win32.h"

#include <string>
#include <string_view>

namespace corvane::ftp {

// The text of a number, preceded by as many "0" as it lacks to reach
// `width` characters; never shortened.
std::wstring zero_pad(long long value, size_t width);

// A listing entry's time as display text in local time, fixed width so that
// listing columns line up: "MM/DD/YYYY HH:MM:SS  " (21 characters), or
// "unknown" and 13 spaces when the platform cannot convert it.
std::wstring file_time_text(const FILETIME& file_time);

}  // namespace corvane::ftp
