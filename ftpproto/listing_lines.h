#pragma once
// The lines of a directory listing as servers send them: MLSD facts, Unix
// "ls -l" and DOS/IIS formats. A line no parser understands gives nothing
// and is counted by the caller, never guessed at.

#include "frame/win32.h"

#include <string>
#include <string_view>

namespace corvane::ftpproto {

struct RemoteEntry {
    // As the server sent it; never empty, never "." or "..", never holding
    // "/" or NUL or a line end (such lines are not entries of this
    // directory).
    std::string name;
    bool directory = false;
    unsigned long long size = 0;
    // Zero when the line gives no time. MLSD times are UTC; listing times
    // are the server's clock, taken as UTC as the platform takes them.
    FILETIME modified{};
};

enum class LineKind {
    entry,
    // Known to name nothing to show: a blank line, "total 12", "." and "..",
    // MLSD's cdir and pdir, or a type that is neither file nor directory.
    no_entry,
    // Malformed, of no known format, or naming a path: the caller counts it.
    not_understood,
};

struct ListingLine {
    LineKind kind = LineKind::not_understood;
    RemoteEntry entry;  // only when kind is entry
};

// One MLSD line without its line end: "fact=value;fact=value; name". Only
// type=file and dir give entries, and symbolic links (OS.unix=slink) show
// as files, as they do in a LIST.
ListingLine parse_mlsd_line(std::string_view line);

// One LIST line of any known format, without its line end. `now` (UTC)
// places the Unix dates that carry a time instead of a year: within the
// last year up to a day ahead, as ls writes them.
ListingLine parse_list_line(std::string_view line, const SYSTEMTIME& now);

}  // namespace corvane::ftpproto
