#include "ftp/time_text.h"

#include "frame/platform.h"

namespace corvane::ftp {

std::wstring zero_pad(long long value, size_t width)
{
    std::wstring text = std::to_wstring(value);
    if (text.size() < width)
        text.insert(0, width - text.size(), L'0');
    return text;
}

std::wstring file_time_text(const FILETIME& file_time)
{
    constexpr std::wstring_view unknown = L"unknown             ";
    FILETIME local_time{};
    SYSTEMTIME fields{};
    if (!platform().FileTimeToLocalFileTime(&file_time, &local_time) ||
        !platform().FileTimeToSystemTime(&local_time, &fields))
        return std::wstring(unknown);

    std::wstring text =
        zero_pad(fields.wMonth, 2) + L"/" + zero_pad(fields.wDay, 2) + L"/" + zero_pad(fields.wYear, 2) + L" ";
    // A year of five digits only makes the date part longer.
    constexpr size_t date_width = 11;
    if (text.size() < date_width)
        text.append(date_width - text.size(), L' ');
    text += zero_pad(fields.wHour, 2) + L":" + zero_pad(fields.wMinute, 2) + L":" + zero_pad(fields.wSecond, 2) + L" ";
    return text + L" ";
}

}  // namespace corvane::ftp
