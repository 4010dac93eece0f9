// The error catalogues against the numbers, sources and messages scripts
// test for. Every other test names its errors through the catalogues, so a
// wrong entry would move them all along with it; here the values stay
// written out.

#include "frame/error_code.h"
#include "ftp/ftp_errors.h"
#include "http/http_errors.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvane {
namespace {

TEST(ErrorCatalogue, NumbersSourcesAndMessagesAreTheOnesScriptsSee)
{
    struct Entry {
        const char* name;
        const ErrorCode* code;
        unsigned long number;
        const wchar_t* source;
        const wchar_t* message;
    };
    const wchar_t* ftp_source = L"Corvane.FTP";
    const wchar_t* http_source = L"Corvane.HTTP";
    const std::vector<Entry> entries = {
        {"ftp invalid_port", &ftp::errors::invalid_port, 0x80040201, ftp_source,
         L"The port number that you entered is invalid"},
        {"ftp open_connection", &ftp::errors::open_connection, 0x80040202, ftp_source,
         L"Error opening FTP connection."},
        {"ftp retrieve_directory", &ftp::errors::retrieve_directory, 0x80040202, ftp_source,
         L"Error retrieving directory."},
        {"ftp set_directory", &ftp::errors::set_directory, 0x80040203, ftp_source, L"Error setting directory."},
        {"ftp listing", &ftp::errors::listing, 0x80040204, ftp_source, L"Error retrieving directory listing."},
        {"ftp listing_first", &ftp::errors::listing_first, 0x80040204, ftp_source,
         L"Error retrieving directory listing.(1)"},
        {"ftp listing_next", &ftp::errors::listing_next, 0x80040204, ftp_source,
         L"Error retrieving directory listing.(2)"},
        {"ftp listing_close", &ftp::errors::listing_close, 0x80040204, ftp_source,
         L"Error retrieving directory listing.(3)"},
        {"ftp create_directory", &ftp::errors::create_directory, 0x80040205, ftp_source,
         L"Error creating directory."},
        {"ftp rename_file", &ftp::errors::rename_file, 0x80040206, ftp_source, L"Error renaming file/directory."},
        {"ftp put_file", &ftp::errors::put_file, 0x80040207, ftp_source, L"Error putting file to remote server."},
        {"ftp get_file", &ftp::errors::get_file, 0x80040208, ftp_source,
         L"Error getting file from the remote server."},
        {"ftp delete_file", &ftp::errors::delete_file, 0x80040209, ftp_source,
         L"Error deleting file from the remote server."},
        {"ftp close_connection", &ftp::errors::close_connection, 0x8004020a, ftp_source,
         L"Error closing connection to remote server."},
        {"ftp url_not_set", &ftp::errors::url_not_set, 0x8004020b, ftp_source, L"Needed Property not set.  URL"},
        {"ftp username_not_set", &ftp::errors::username_not_set, 0x8004020b, ftp_source,
         L"Needed Parameter not set.  Username"},
        {"ftp remove_directory", &ftp::errors::remove_directory, 0x8004020c, ftp_source,
         L"Error removing directory."},
        {"ftp not_connected", &ftp::errors::not_connected, 0x8004020d, ftp_source,
         L"Error getting/setting directory.  No connection open."},
        {"ftp missing_folder", &ftp::errors::missing_folder, 0x8004020e, ftp_source, L"Folder :"},
        {"ftp execute_command", &ftp::errors::execute_command, 0x8004020f, ftp_source,
         L"Error executing command on FTP server."},
        {"ftp read_file", &ftp::errors::read_file, 0x80040210, ftp_source,
         L"Error reading file from the remote server."},
        {"ftp open_file", &ftp::errors::open_file, 0x80040211, ftp_source, L"Error attempting to open file."},
        {"ftp page_not_bound", &ftp::errors::page_not_bound, 0x80040212, ftp_source,
         L"Create the object with Server.CreateObject in the page, or pass the page's ScriptingContext to "
         L"OnStartPage."},
        {"ftp invalid_timeout", &ftp::errors::invalid_timeout, 0x80040213, ftp_source,
         L"The timeout must be between 1 and 86400 seconds."},
        {"ftp remote_file_size", &ftp::errors::remote_file_size, 0x80040214, ftp_source,
         L"Error getting the size of the remote file."},
        {"ftp resume_refused", &ftp::errors::resume_refused, 0x80040215, ftp_source,
         L"The server refused to resume the transfer."},
        {"ftp resume_incomplete", &ftp::errors::resume_incomplete, 0x80040216, ftp_source,
         L"The resumed transfer did not complete: the local and remote sizes differ."},
        {"http open_internet", &http::errors::open_internet, 0x800403e8, http_source,
         L"Error opening connection to the internet."},
        {"http open_connection", &http::errors::open_connection, 0x800403e8, http_source,
         L"Error opening connection to remote server."},
        {"http open_request", &http::errors::open_request, 0x800403e8, http_source,
         L"Error opening request to remote server."},
        {"http send_request", &http::errors::send_request, 0x800403e9, http_source,
         L"Error opening request received from remote server."},
        {"http query_headers", &http::errors::query_headers, 0x800403ea, http_source,
         L"Error getting information out of request(1)."},
        {"http query_status", &http::errors::query_status, 0x800403ea, http_source,
         L"Error getting information out of request(2)."},
        {"http read_body", &http::errors::read_body, 0x800403eb, http_source,
         L"Error getting information out of request."},
        {"http url_not_set", &http::errors::url_not_set, 0x800403ec, http_source,
         L"No URL set.  Please ensure that the URL property is set."},
        {"http close_connection", &http::errors::close_connection, 0x800403ec, http_source,
         L"Error closing connection."},
    };
    EXPECT_EQ(std::wstring(ftp::errors::source), ftp_source);
    EXPECT_EQ(std::wstring(http::errors::source), http_source);
    for (const Entry& entry : entries) {
        SCOPED_TRACE(entry.name);
        EXPECT_EQ(entry.code->number, static_cast<HRESULT>(entry.number));
        EXPECT_EQ(std::wstring(entry.code->source), entry.source);
        EXPECT_EQ(std::wstring(entry.code->message), entry.message);
    }

    // The runtime's own errors, as a script's Err.Number shows them.
    struct Runtime {
        const char* name;
        RuntimeError error;
        unsigned long number;
    };
    for (const Runtime& runtime : {Runtime{"invalid_argument", RuntimeError::invalid_argument, 0x800A0005},
                                   Runtime{"overflow", RuntimeError::overflow, 0x800A0006},
                                   Runtime{"subscript_out_of_range", RuntimeError::subscript_out_of_range, 0x800A0009},
                                   Runtime{"type_mismatch", RuntimeError::type_mismatch, 0x800A000D}}) {
        SCOPED_TRACE(runtime.name);
        EXPECT_EQ(runtime_error_number(runtime.error), static_cast<HRESULT>(runtime.number));
    }
}

}  // namespace
}  // namespace corvane
