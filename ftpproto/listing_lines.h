#pragma once
// The lines of a directory listing as servers send them: MLSD facts, Unix
// "ls -l" and DOS/IIS formats. A line no parser understands gives nothing
// and is counted by the caller, never guessed at.

#include "frame/win32.h"

#include <optional>
#include <string>
#include <string_view>

namespace corvane::ftpproto {

struct RemoteEntry {
    // As the server sent it; never empty, never "." or "..", never holding
    // "/" or "\" or NUL (such lines are not entries of this directory).
    std::string name;
    bool directory = false;
    unsigned long long size = 0;
    // Zero when the line gives no time. MLSD times are UTC; listing times
    // are the server's clock, taken as UTC as the platform takes them.
    FILETIME modified{};
};

// One MLSD line: "fact=value;fact=value; name". Only type=file, dir (and
// OS.unix=slink types pointing at files/dirs as the platform would show
// them) give entries; cdir and pdir give nothing.
std::optional<RemoteEntry> parse_mlsd_line(std::string_view line);

// One LIST line of any known format. `now` (UTC) places the Unix dates that
// carry a time instead of a year: within the last six months up to a day
// ahead, as ls writes them. "total 12" and other non-entries give nothing.
std::optional<RemoteEntry> parse_list_line(std::string_view line, const SYSTEMTIME& now);

}  // namespace corvane::ftpproto
