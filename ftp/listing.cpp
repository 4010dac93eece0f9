// The current remote directory as a collection of entries and as text.

#include "ftp/ftp.h"

#include "frame/error_text.h"
#include "frame/platform.h"
#include "frame/text.h"
#include "ftp/ftp_files.h"

#include <cstring>

namespace corvane {

namespace {

constexpr HRESULT listing_error = static_cast<HRESULT>(0x80040204);
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
    raise_with_reason(listing_error, ftp_source, L"Error retrieving directory listing.", *reason);
}

}  // namespace

ComPtr<FTPFiles> FTP::list_directory()
{
    const PlatformStep step;
    auto files = make_object<FTPFiles>();
    WIN32_FIND_DATAA record{};
    clear_name(record);
    // No search text: the whole current directory.
    InternetHandle search(platform().FtpFindFirstFileA(lng_connection_handle.get(), nullptr, &record, find_flags, 0));
    if (!search) {
        const DWORD code = platform().GetLastError();
        if (!is_end_of_listing(code))
            raise_platform_error(listing_error, ftp_source, L"Error retrieving directory listing.(1)",
                                 static_cast<LONG>(code), listing_procedure);
        check_listing_complete(true);
        return files;
    }
    files->AddFile(record);
    for (;;) {
        clear_name(record);
        if (platform().InternetFindNextFileA(search.get(), &record)) {
            files->AddFile(record);
            continue;
        }
        const DWORD code = platform().GetLastError();
        if (is_end_of_listing(code))
            break;
        raise_platform_error(listing_error, ftp_source,
                             L"Error retrieving directory listing.(2)(" + std::to_wstring(static_cast<LONG>(code)) +
                                 L")(0)",
                             static_cast<LONG>(code), listing_procedure);
    }
    if (!search.close()) {
        search.release();  // the platform would not close it; no point asking again
        raise_platform_failure(listing_error, ftp_source, L"Error retrieving directory listing.(3)",
                               listing_procedure);
    }
    check_listing_complete(false);
    return files;
}

HRESULT FTP::Files(_FTPFiles** result)
{
    return member([&] {
        ComPtr<FTPFiles> files = list_directory();
        *result = files.detach();
    });
}

std::wstring FTP::directory_listing(LONG listing_type)
{
    const ComPtr<FTPFiles> files = list_directory();
    std::wstring text;
    for (size_t index = 0; index < files->size(); ++index) {
        const FTPFile& entry = files->entry(index);
        const bool wanted = (entry.file_type_value() == FTPDirectory && (listing_type & ShowDirectories)) ||
                            (entry.file_type_value() == FTPFileEntry && (listing_type & ShowFiles));
        if (!wanted)
            continue;
        if (listing_type & ShowLastWriteTime)
            text += entry.last_write();
        if (listing_type & ShowLastAccessTime)
            text += entry.last_access();
        if (listing_type & ShowCreationTime)
            text += entry.creation();
        if (listing_type & ShowFileSize) {
            const std::wstring size = size_text(entry.size());
            text += size;
            if (size.size() < size_column_width)
                text.append(size_column_width - size.size(), L' ');
        }
        text += entry.filename();
        text += L"\r\n";
    }
    return text;
}

HRESULT FTP::GetDirectoryListing(Directory_Listing_Type lng_listing_type, BSTR* result)
{
    return member([&] { *result = allocate_bstr(directory_listing(lng_listing_type)); });
}

}  // namespace corvane
