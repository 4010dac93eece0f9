// Listing lines as real servers write them, and the lines a hostile or
// broken one might send instead.

#include "ftpproto/listing_lines.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace corvane::ftpproto {
namespace {

using namespace std::string_view_literals;

// "file 12 2024-03-01 12:30:00 [name]", "no entry" or "not understood".
std::string described(const ListingLine& line)
{
    if (line.kind != LineKind::entry)
        return line.kind == LineKind::no_entry ? "no entry" : "not understood";
    const RemoteEntry& e = line.entry;
    SYSTEMTIME t{};
    char time[40] = "-";
    if ((e.modified.dwLowDateTime || e.modified.dwHighDateTime) && FileTimeToSystemTime(&e.modified, &t))
        std::snprintf(time, sizeof time, t.wMilliseconds ? "%04u-%02u-%02u %02u:%02u:%02u.%03u" : "%04u-%02u-%02u %02u:%02u:%02u",
                      t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return std::string(e.directory ? "dir " : "file ") + std::to_string(e.size) + " " + time + " [" + e.name + "]";
}

SYSTEMTIME utc(WORD year, WORD month, WORD day, WORD hour)
{
    return {year, month, 0, day, hour, 0, 0, 0};
}

struct Row {
    bool mlsd;
    std::string_view line;
    const char* expected;
};

const Row rows[] = {
    // vsftpd, ProFTPD, pure-ftpd, busybox; "now" is 2024-06-15 12:00
    {false, "-rw-r--r--    1 1000     1000         1234 Mar 01 12:30 notes.txt", "file 1234 2024-03-01 12:30:00 [notes.txt]"},
    {false, "drwxr-xr-x    2 1000     1000         4096 Jan 05  2021 archive", "dir 4096 2021-01-05 12:00:00 [archive]"},
    {false, "-rw-r--r--   1 ftp      ftp      5368709120 Jun 10 08:00 big.iso", "file 5368709120 2024-06-10 08:00:00 [big.iso]"},
    {false, "drwxr-xr-x   3 ftp      ftp          4096 Jun 16 11:00 new dir", "dir 4096 2024-06-16 11:00:00 [new dir]"},
    {false, "-rw-r--r--    1 1000       1000              7 Nov 30 09:05 old.txt", "file 7 2023-11-30 09:05:00 [old.txt]"},
    {false, "lrwxrwxrwx    1 0          0                11 Feb 29 10:00 current -> release-1.2", "file 11 2024-02-29 10:00:00 [current]"},
    {false, "-rw-r--r--    1 0        0        18446744073709551615 Jan  1  2020 max", "file 18446744073709551615 2020-01-01 12:00:00 [max]"},
    {false, "-rw-r--r--   1 owner   512 May  3  2019 no group", "file 512 2019-05-03 12:00:00 [no group]"},
    {false, "-rw-r--r-- 1 100 Jan 12 Mar  3  2020 group named Jan", "file 12 2020-03-03 12:00:00 [group named Jan]"},
    {false, "-rw-r--r--+  1 u g 1 Apr  4 04:04 acl", "file 1 2024-04-04 04:04:00 [acl]"},
    {false, "drwxr-xr-x@ 3 u staff 96 Apr  4  2022 mac dir", "dir 96 2022-04-04 12:00:00 [mac dir]"},
    {false, "-rw-r--r-- 1 user group 42 2023-05-01 12:34 iso name.txt", "file 42 2023-05-01 12:34:00 [iso name.txt]"},
    {false, "-rw-r--r-- 1 u g 5 Jan  1  2020  lead", "file 5 2020-01-01 12:00:00 [ lead]"},
    {false, "-rw-r--r-- 1 u g 5 Jan  1  2020 Feb  2  2021 x ", "file 5 2020-01-01 12:00:00 [Feb  2  2021 x ]"},
    {false, "prw-r--r-- 1 u g 0 Jan  1  2020 fifo", "file 0 2020-01-01 12:00:00 [fifo]"},
    {false, "lrwxrwxrwx 1 u g 11 Jan  1  2020 link -> /etc/passwd", "file 11 2020-01-01 12:00:00 [link]"},
    {false, "crw-rw-rw- 1 root root 1, 3 Jan  1  2020 null", "not understood"},
    {false, "total 12", "no entry"},
    {false, "", "no entry"},
    {false, "   ", "no entry"},
    {false, "drwxr-xr-x 2 u g 4096 Jan  1  2020 ..", "no entry"},
    {false, "-rw-r--r-- 1 u g 5 Jan  1  2020 a/b", "not understood"},
    {false, "-rw-r--r-- 1 u g 5 Jan  1  2020 ..\\x", "file 5 2020-01-01 12:00:00 [..\\x]"},
    {false, "-rw-r--r-- 1 u g 5 Jan  1  2020 a\0b"sv, "not understood"},
    {false, "lrwxrwxrwx 1 u g 5 Jan  1  2020 ../up -> x", "not understood"},
    {false, "-rw-r--r-- 1 u g 5 Foo  1  2020 bad month", "not understood"},
    {false, "-rw-r--r-- 1 u g 5 Feb 30  2020 feb30", "not understood"},
    {false, "-rw-r--r-- 1 u g 5 Jan  1 25:00 hour25", "not understood"},
    {false, "-rw-r--r-- 1 u g 18446744073709551616 Jan  1  2020 over", "not understood"},
    {false, "xrw-r--r-- 1 u g 5 Jan  1  2020 bad mode", "not understood"},
    {false, "-rw-r--r-- 1 u g 5 Jan  1  2020", "not understood"},
    {false, "total x", "not understood"},
    // IIS and other DOS-style servers
    {false, "01-16-24  10:30AM       <DIR>          Program Files", "dir 0 2024-01-16 10:30:00 [Program Files]"},
    {false, "06-01-2024  12:05PM           5368709120 big file.bin", "file 5368709120 2024-06-01 12:05:00 [big file.bin]"},
    {false, "12-31-99  12:00AM                    1 y2k.txt", "file 1 1999-12-31 00:00:00 [y2k.txt]"},
    {false, "01-16-24  23:59                 7 clock24", "file 7 2024-01-16 23:59:00 [clock24]"},
    {false, "02-29-23  01:00PM                 1 x", "not understood"},
    {false, "01-16-24  13:30PM                 1 x", "not understood"},
    {false, "01-16-24  10:30AM       <DIR>          ..", "no entry"},
    {false, "01-16-24  10:30AM                 1 a\\b", "file 1 2024-01-16 10:30:00 [a\\b]"},
    {false, "01-16-24  10:30AM                 1", "not understood"},
    // MLSD: pyftpdlib, ProFTPD, pure-ftpd
    {true, "type=file;size=1024;modify=20240102030405;perm=r; readme.txt", "file 1024 2024-01-02 03:04:05 [readme.txt]"},
    {true, "Type=DIR;Modify=20230101000000;UNIX.mode=0755; sub dir", "dir 0 2023-01-01 00:00:00 [sub dir]"},
    {true, "type=dir;sizd=4096;modify=20230101000000; d", "dir 4096 2023-01-01 00:00:00 [d]"},
    {true, "type=cdir;sizd=4096;modify=20240102030405;UNIX.mode=0755; /home/ftp", "no entry"},
    {true, "type=pdir;modify=20240102030405; ..", "no entry"},
    {true, "modify=20240102030405.12;size=5;type=file;  two;spaces", "file 5 2024-01-02 03:04:05.120 [ two;spaces]"},
    {true, "type=file;size=18446744073709551615; max", "file 18446744073709551615 - [max]"},
    {true, "type=OS.unix=slink:/etc/passwd;size=11; link", "file 11 - [link]"},
    {true, "type=OS.unix=chr-1/3; null", "no entry"},
    {true, "type=file;size=18446744073709551616; over", "not understood"},
    {true, "type=file;size=1; a/b", "not understood"},
    {true, "type=file;size=1; ..\\x", "file 1 - [..\\x]"},
    {true, "type=file;modify=20240230000000; feb30", "not understood"},
    {true, "type=file;modify=2024010203040; short", "not understood"},
    {true, "type=file;size=12x; x", "not understood"},
    {true, "size=1; no type", "not understood"},
    {true, "type=file;noequals; x", "not understood"},
    {true, "type=file;size=1;", "not understood"},
    {true, "type=file;size=1; ", "not understood"},
};

TEST(ListingLines, ReadAsServersWriteThem)
{
    const SYSTEMTIME now = utc(2024, 6, 15, 12);
    for (const Row& row : rows)
        EXPECT_EQ(described(row.mlsd ? parse_mlsd_line(row.line) : parse_list_line(row.line, now)), row.expected)
            << row.line;
}

// The year a Unix date leaves out: the latest not more than a day ahead.
TEST(ListingLines, PlaceYearlessDates)
{
    const struct {
        SYSTEMTIME now;
        const char* date;
        const char* expected;
    } cases[] = {
        {utc(2024, 12, 31, 23), "Jan  1 10:00", "file 1 2025-01-01 10:00:00 [x]"},
        {utc(2025, 1, 10, 0), "Feb 29 10:00", "file 1 2024-02-29 10:00:00 [x]"},
        {utc(2027, 6, 10, 0), "Feb 29 10:00", "not understood"},
        {utc(2024, 6, 15, 12), "Jun 16 12:01", "file 1 2023-06-16 12:01:00 [x]"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(described(parse_list_line(std::string("-rw-r--r-- 1 u g 1 ") + c.date + " x", c.now)), c.expected)
            << c.date;
}

}  // namespace
}  // namespace corvane::ftpproto
