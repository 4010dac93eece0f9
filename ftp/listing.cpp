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

constexpr DWORD find_flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
constexpr std::wstring_view listing_procedure = L"GetDirectoryListing";
constexpr size_t size_column_width = 15;

// The end of a listing. Windows reports it as ERROR_NO_MORE_FILES; a failed
// find that sets no error at all (Wine, for an empty directory) has reported
// nothing but the end either.
bool is_end_of_listing(DWORD code)
{
    return code == ERROR_NO_MORE_FILES || code == ERROR_SUCCESS;
}

void clear_name(WIN32_FIND_DATAA& record)
{
    std::memset(record.cFileName, 0, sizeof record.cFileName);
}

// The platform ends a listing whose connection dropped as it ends any other
// (Wine keeps the entries that arrived and reports no error); only the
// server's final reply, or its absence, tells the two apart.
void check_listing_complete(bool nothing_listed)
{
    const std::optional<std::wstring> reason = incomplete_transfer_reason();
    if (!reason)
        return;
    // Some servers refuse to list an empty directory ("550 No files
    // found"); with nothing listed and the platform calling it the end,
    // their word stands.
    if (nothing_listed && reply_code(*reason) >= 400)
        return;
    raise_with_reason(errors::listing, *reason);
}

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
    ServerWait wait(*this, errors::listing);
    std::vector<ListingEntry> entries;
    WIN32_FIND_DATAA record{};
    clear_name(record);
    // No search text: the whole current directory.
    InternetHandle search(platform().FtpFindFirstFileA(connection_.get(), nullptr, &record, find_flags, 0));
    wait.finish();
    if (!search) {
        const DWORD code = platform().GetLastError();
        if (!is_end_of_listing(code))
            raise_platform_error(errors::listing_first, static_cast<LONG>(code), listing_procedure);
        check_listing_complete(true);
        return entries;
    }
    entries.push_back(ListingEntry::from_find_data(record, name_encoding()));
    for (;;) {
        clear_name(record);
        if (platform().InternetFindNextFileA(search.get(), &record)) {
            entries.push_back(ListingEntry::from_find_data(record, name_encoding()));
            continue;
        }
        const DWORD code = platform().GetLastError();
        if (is_end_of_listing(code))
            break;
        raise_platform_error(errors::listing_next,
                             std::wstring(errors::listing_next.message) + L"(" +
                                 std::to_wstring(static_cast<LONG>(code)) + L")(0)",
                             static_cast<LONG>(code), listing_procedure);
    }
    if (!search.close()) {
        search.release();  // the platform would not close it; no point asking again
        raise_platform_failure(errors::listing_close, listing_procedure);
    }
    check_listing_complete(false);
    return entries;
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
