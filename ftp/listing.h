#pragma once
// A remote directory listing as the session reads it, and its text form.

#include "frame/win32.h"
#include "ftp/wire_text.h"

#include <string>
#include <vector>

namespace corvane::ftp {

struct ListingEntry {
    std::wstring name;
    bool directory = false;
    // Sizes up to 2^53 are exact; a listing cannot report more than 2^64.
    double size = 0;
    // Display text, as file_time_text makes it.
    std::wstring last_access_time;
    std::wstring last_write_time;
    std::wstring creation_time;

    // An entry as the platform's find record gives it, its name in the
    // session's encoding.
    static ListingEntry from_find_data(const WIN32_FIND_DATAA& record, NameEncoding encoding);
};

// What a text listing shows, as bits scripts combine.
namespace columns {
inline constexpr LONG files = 1;
inline constexpr LONG directories = 2;
inline constexpr LONG size = 4;
inline constexpr LONG last_access_time = 8;
inline constexpr LONG last_write_time = 16;
inline constexpr LONG creation_time = 32;
}  // namespace columns

// One line per entry that `shown` selects, in listing order: the chosen
// times and the size (in a column of 15), then the name, each line ended
// by CR LF.
std::wstring listing_text(const std::vector<ListingEntry>& entries, LONG shown);

// The text of a size: whole numbers in plain decimal, however large.
std::wstring size_text(double size);

}  // namespace corvane::ftp
