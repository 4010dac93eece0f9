#pragma once

#include <optional>
#include <string>

namespace corvane::ftp {

// After a transfer has ended and its handle is closed: why it cannot count
// as complete, judged by the reply the platform recorded last, or nothing
// when it can. An empty record says nothing either way.
std::optional<std::wstring> incomplete_transfer_reason();

}  // namespace corvane::ftp
