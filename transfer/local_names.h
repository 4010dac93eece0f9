#pragma once
// Local paths in transfers. In a tree download the names come from the
// server: a hostile one lists "..\x", "a/../../x", "C:x", "nul" or "name."
// to have a file written outside the target folder, swallowed by a device
// or merged with another, so a listed name is taken only as one plain path
// component, and the path made of it must still resolve inside the folder.

#include "frame/error_code.h"
#include "frame/full_path.h"

#include <string>
#include <string_view>

namespace corvane::transfer {

// Why the name cannot stand as one plain local path component, as the end
// of a sentence ("holds a path separator"); empty when it can.
std::wstring_view why_not_plain(std::wstring_view name);

// The name as a message shows it: quoted, control characters escaped.
std::wstring shown_name(std::wstring_view name);

// Whether a full path lies strictly inside a folder's full path: same
// leading text regardless of case, up to a separator.
bool lies_inside(std::wstring_view folder, std::wstring_view path);

// Raises `error` with its message and the reason when a local path given
// to a member holds a NUL: the platform would stop at it and use another
// path.
void check_local_path(std::wstring_view path, const ErrorCode& error);

}  // namespace corvane::transfer
