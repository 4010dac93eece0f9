#include "ftp/time_text.h"

#include "frame/platform.h"

namespace corvane {

std::wstring ZeroPad(long long value, size_t width)
{
    std::wstring text = std::to_wstring(value);
    if (text.size() < width)
        text.insert(0, width - text.size(), L'0');
    return text;
}

std::wstring FileTimeToText(const FILETIME& file_time)
{
    constexpr std::wstring_view unknown = L"unknown             ";
    FILETIME local_time{};
    SYSTEMTIME fields{};
    if (!platform().FileTimeToLocalFileTime(&file_time, &local_time) ||
        !platform().FileTimeToSystemTime(&local_time, &fields))
        return std::wstring(unknown);

    std::wstring text = ZeroPad(fields.wMonth, 2) + L"/" + ZeroPad(fields.wDay, 2) + L"/" + ZeroPad(fields.wYear, 2) + L" ";
    // A year of five digits only makes the date part longer.
    constexpr size_t date_width = 11;
    if (text.size() < date_width)
        text.append(date_width - text.size(), L' ');
    text += ZeroPad(fields.wHour, 2) + L":" + ZeroPad(fields.wMinute, 2) + L":" + ZeroPad(fields.wSecond, 2) + L" ";
    return text + L" ";
}

}  // namespace corvane
