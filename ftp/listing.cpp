// The current remote directory as entries and as text.

#include "ftp/listing.h"

#include "frame/error_text.h"
#include "frame/platform.h"
#include "frame/text.h"
#include "ftp/ftp_errors.h"
#include "ftp/replies.h"
#include "ftp/session.h"
#include "ftp/time_text.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace corvane::ftp {

namespace {

constexpr size_t size_column_width = 15;

}  // namespace

ListingEntry ListingEntry::from_find_data(const WIN32_FIND_DATAA& record, NameEncoding encoding)
{
    ListingEntry entry;
    entry.name = wire_text_of(up_to_nul(record.cFileName, sizeof record.cFileName), encoding);
    entry.directory = (record.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // Both size words unsigned: sizes of 2 GiB and more stay positive.
    entry.size = static_cast<double>(record.nFileSizeHigh) * 4294967296.0 + record.nFileSizeLow;
    entry.last_access_time = file_time_text(record.ftLastAccessTime);
    entry.last_write_time = file_time_text(record.ftLastWriteTime);
    entry.creation_time = file_time_text(record.ftCreationTime);
    return entry;
}

std::vector<ListingEntry> Session::list()
{
    return engine(errors::listing_first, L"GetDirectoryListing").list(name_encoding());
}

std::wstring listing_text(const std::vector<ListingEntry>& entries, LONG shown)
{
    std::wstring text;
    for (const ListingEntry& entry : entries) {
        const bool wanted = (entry.directory && (shown & columns::directories)) ||
                            (!entry.directory && (shown & columns::files));
        if (!wanted)
            continue;
        if (shown & columns::last_write_time)
            text += entry.last_write_time;
        if (shown & columns::last_access_time)
            text += entry.last_access_time;
        if (shown & columns::creation_time)
            text += entry.creation_time;
        if (shown & columns::size) {
            const std::wstring size = size_text(entry.size);
            text += size;
            if (size.size() < size_column_width)
                text.append(size_column_width - size.size(), L' ');
        }
        text += entry.name;
        text += L"\r\n";
    }
    return text;
}

std::wstring size_text(double size)
{
    if (std::trunc(size) == size && std::fabs(size) < 1e18)
        return std::to_wstring(static_cast<long long>(size));
    wchar_t text[64];
    std::swprintf(text, 64, L"%.17g", size);
    return text;
}

}  // namespace corvane::ftp
