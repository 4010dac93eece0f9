#pragma once
// Every error the HTTP class raises: number, source and message. Numbers and
// messages are what scripts test for; never change one.

#include "frame/error_code.h"

#include <string_view>

namespace corvane::http::errors {

inline constexpr std::wstring_view source = L"Corvane.HTTP";

inline constexpr ErrorCode open_internet{
    error_number(0x800403e8), source, L"Error opening connection to the internet."};
inline constexpr ErrorCode open_connection{
    error_number(0x800403e8), source, L"Error opening connection to remote server."};
inline constexpr ErrorCode open_request{error_number(0x800403e8), source, L"Error opening request to remote server."};
inline constexpr ErrorCode send_request{
    error_number(0x800403e9), source, L"Error opening request received from remote server."};
inline constexpr ErrorCode query_headers{
    error_number(0x800403ea), source, L"Error getting information out of request(1)."};
inline constexpr ErrorCode query_status{
    error_number(0x800403ea), source, L"Error getting information out of request(2)."};
inline constexpr ErrorCode read_body{error_number(0x800403eb), source, L"Error getting information out of request."};
inline constexpr ErrorCode url_not_set{
    error_number(0x800403ec), source, L"No URL set.  Please ensure that the URL property is set."};
// Shares its number with url_not_set.
inline constexpr ErrorCode close_connection{error_number(0x800403ec), source, L"Error closing connection."};
// A setting refused when set, or before a request that would send it.
inline constexpr ErrorCode invalid_setting{error_number(0x800403ed), source, L"Invalid request setting."};
inline constexpr ErrorCode save_to_file{error_number(0x800403ee), source, L"Error saving the response to a file."};
inline constexpr ErrorCode redirect_refused{error_number(0x800403ef), source, L"Redirect not followed."};
inline constexpr ErrorCode response_too_large{
    error_number(0x800403f0), source, L"The response body is larger than MaxResponseSize allows."};
// The platform's own number, which scripts see as error 7, with a reason
// of ours.
inline constexpr ErrorCode out_of_memory{E_OUTOFMEMORY, source, L"Out of memory."};

}  // namespace corvane::http::errors
