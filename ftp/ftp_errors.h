#pragma once
// Every error the FTP class raises: number, source and message. Numbers and
// messages are what scripts test for; never change one.

#include "frame/error_code.h"

#include <string_view>

namespace corvane::ftp::errors {

inline constexpr std::wstring_view source = L"Corvane.FTP";

inline constexpr ErrorCode invalid_port{
    error_number(0x80040201), source, L"The port number that you entered is invalid"};
inline constexpr ErrorCode open_connection{error_number(0x80040202), source, L"Error opening FTP connection."};
// Shares its number with open_connection.
inline constexpr ErrorCode retrieve_directory{error_number(0x80040202), source, L"Error retrieving directory."};
inline constexpr ErrorCode set_directory{error_number(0x80040203), source, L"Error setting directory."};
inline constexpr ErrorCode listing{error_number(0x80040204), source, L"Error retrieving directory listing."};
// The listing's steps, as the message tells them apart: the first entry,
// the next one (followed by "(<code>)(0)"), the close.
inline constexpr ErrorCode listing_first{error_number(0x80040204), source, L"Error retrieving directory listing.(1)"};
inline constexpr ErrorCode listing_next{error_number(0x80040204), source, L"Error retrieving directory listing.(2)"};
inline constexpr ErrorCode listing_close{error_number(0x80040204), source, L"Error retrieving directory listing.(3)"};
inline constexpr ErrorCode create_directory{error_number(0x80040205), source, L"Error creating directory."};
inline constexpr ErrorCode rename_file{error_number(0x80040206), source, L"Error renaming file/directory."};
inline constexpr ErrorCode put_file{error_number(0x80040207), source, L"Error putting file to remote server."};
inline constexpr ErrorCode get_file{error_number(0x80040208), source, L"Error getting file from the remote server."};
inline constexpr ErrorCode delete_file{
    error_number(0x80040209), source, L"Error deleting file from the remote server."};
inline constexpr ErrorCode close_connection{
    error_number(0x8004020a), source, L"Error closing connection to remote server."};
inline constexpr ErrorCode url_not_set{error_number(0x8004020b), source, L"Needed Property not set.  URL"};
inline constexpr ErrorCode username_not_set{error_number(0x8004020b), source, L"Needed Parameter not set.  Username"};
inline constexpr ErrorCode remove_directory{error_number(0x8004020c), source, L"Error removing directory."};
inline constexpr ErrorCode not_connected{
    error_number(0x8004020d), source, L"Error getting/setting directory.  No connection open."};
// The message is "Folder :<path> does not exist."
inline constexpr ErrorCode missing_folder{error_number(0x8004020e), source, L"Folder :"};
inline constexpr ErrorCode execute_command{error_number(0x8004020f), source, L"Error executing command on FTP server."};
inline constexpr ErrorCode read_file{error_number(0x80040210), source, L"Error reading file from the remote server."};
inline constexpr ErrorCode open_file{error_number(0x80040211), source, L"Error attempting to open file."};
// After "No ASP page is bound, so there is no <object> object.  ".
inline constexpr ErrorCode page_not_bound{
    error_number(0x80040212), source,
    L"Create the object with Server.CreateObject in the page, or pass the page's ScriptingContext to OnStartPage."};
inline constexpr ErrorCode invalid_timeout{
    error_number(0x80040213), source, L"The timeout must be between 1 and 86400 seconds."};
// Followed by one space and the server's reply, or why there is none.
inline constexpr ErrorCode remote_file_size{
    error_number(0x80040214), source, L"Error getting the size of the remote file."};
inline constexpr ErrorCode resume_refused{
    error_number(0x80040215), source, L"The server refused to resume the transfer."};
inline constexpr ErrorCode resume_incomplete{
    error_number(0x80040216), source,
    L"The resumed transfer did not complete: the local and remote sizes differ."};
inline constexpr ErrorCode engine_while_connected{
    error_number(0x80040217), source, L"The engine can be changed only while no connection is open."};
inline constexpr ErrorCode invalid_engine{
    error_number(0x80040218), source, L"The engine must be EnginePlatform (1) or EngineNative (2)."};
inline constexpr ErrorCode invalid_security{
    error_number(0x80040219), source,
    L"The security must be SecurityNone (0), SecurityExplicit (1) or SecurityImplicit (2)."};
inline constexpr ErrorCode platform_without_tls{
    error_number(0x8004021a), source,
    L"EnginePlatform cannot protect FTP with TLS: set Security to SecurityNone first."};

}  // namespace corvane::ftp::errors
