#include "ftp/time_text.h"

#include "frame/platform.h"

namespace corvane::ftp {

namespace {

// Zero-padded to `width`, never shortened. By hand: a listing formats one
// time per entry, and the runtime's formatting cost more than the rest of
// the entry (measured: bench rows of the own engine's listings).
void append_padded(std::wstring& text, unsigned value, size_t width)
{
    wchar_t digits[10];
    size_t count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    if (count < width)
        text.append(width - count, L'0');
    while (count > 0)
        text.push_back(digits[--count]);
}

}  // namespace

std::wstring file_time_text(const FILETIME& file_time)
{
    constexpr std::wstring_view unknown = L"unknown             ";
    FILETIME local_time{};
    SYSTEMTIME fields{};
    if (!platform().FileTimeToLocalFileTime(&file_time, &local_time) ||
        !platform().FileTimeToSystemTime(&local_time, &fields))
        return std::wstring(unknown);

    std::wstring text;
    text.reserve(24);
    append_padded(text, fields.wMonth, 2);
    text += L'/';
    append_padded(text, fields.wDay, 2);
    text += L'/';
    append_padded(text, fields.wYear, 2);
    text += L' ';
    // A year of five digits only makes the date part longer.
    constexpr size_t date_width = 11;
    if (text.size() < date_width)
        text.append(date_width - text.size(), L' ');
    append_padded(text, fields.wHour, 2);
    text += L':';
    append_padded(text, fields.wMinute, 2);
    text += L':';
    append_padded(text, fields.wSecond, 2);
    text += L"  ";
    return text;
}

}  // namespace corvane::ftp
