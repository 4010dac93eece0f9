#include "ftpproto/listing_lines.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <span>

namespace corvane::ftpproto {

namespace {

using namespace std::string_view_literals;

// 100 ns ticks since 1601, the unit of FILETIME.
constexpr unsigned long long ticks_per_day = 24ULL * 60 * 60 * 10'000'000;

ListingLine no_entry()
{
    return {LineKind::no_entry, {}};
}

ListingLine not_understood()
{
    return {LineKind::not_understood, {}};
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool same_text(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

bool starts_with_text(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && same_text(text.substr(0, prefix.size()), prefix);
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// Digits only, at least one; a value past 2^64-1 is no number.
std::optional<unsigned long long> number(std::string_view digits)
{
    if (digits.empty())
        return std::nullopt;
    unsigned long long value = 0;
    for (char c : digits) {
        if (!is_digit(c))
            return std::nullopt;
        const auto digit = static_cast<unsigned>(c - '0');
        if (value > (~0ULL - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

// A field of `min` to `max` digits.
std::optional<unsigned> field(std::string_view digits, size_t min, size_t max)
{
    if (digits.size() < min || digits.size() > max)
        return std::nullopt;
    const auto value = number(digits);
    return value ? std::optional<unsigned>(static_cast<unsigned>(*value)) : std::nullopt;
}

struct Moment {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

bool is_leap(unsigned year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Checked here rather than left to SystemTimeToFileTime: some of its
// versions let February run to the 29th in every year.
std::optional<FILETIME> file_time(const Moment& m)
{
    static constexpr std::array<unsigned, 12> month_days{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m.year < 1601 || m.year > 30827 || m.month < 1 || m.month > 12 || m.day < 1 || m.hour > 23 ||
        m.minute > 59 || m.second > 59 || m.millisecond > 999)
        return std::nullopt;
    if (m.day > month_days[m.month - 1] + (m.month == 2 && is_leap(m.year) ? 1 : 0))
        return std::nullopt;
    const SYSTEMTIME system{static_cast<WORD>(m.year),   static_cast<WORD>(m.month),  0,
                            static_cast<WORD>(m.day),    static_cast<WORD>(m.hour),   static_cast<WORD>(m.minute),
                            static_cast<WORD>(m.second), static_cast<WORD>(m.millisecond)};
    FILETIME result{};
    if (!SystemTimeToFileTime(&system, &result))
        return std::nullopt;
    return result;
}

unsigned long long ticks(const FILETIME& time)
{
    return static_cast<unsigned long long>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

// "HH:MM", the hour of one or two digits.
bool read_clock(std::string_view text, Moment& m)
{
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return false;
    const auto hour = field(text.substr(0, colon), 1, 2);
    const auto minute = field(text.substr(colon + 1), 2, 2);
    if (!hour || !minute)
        return false;
    m.hour = *hour;
    m.minute = *minute;
    return true;
}

std::optional<unsigned> month_named(std::string_view text)
{
    static constexpr std::array<std::string_view, 12> names{"jan"sv, "feb"sv, "mar"sv, "apr"sv, "may"sv, "jun"sv,
                                                           "jul"sv, "aug"sv, "sep"sv, "oct"sv, "nov"sv, "dec"sv};
    for (size_t i = 0; i < names.size(); ++i)
        if (same_text(text, names[i]))
            return static_cast<unsigned>(i + 1);
    return std::nullopt;
}

// The year ls left out: the latest that does not put the date more than a
// day past `now` (a server's clock may run ahead of ours).
std::optional<FILETIME> place_in_year(Moment m, const SYSTEMTIME& now)
{
    FILETIME now_time{};
    if (!SystemTimeToFileTime(&now, &now_time))
        return std::nullopt;
    const unsigned long long latest = ticks(now_time) + ticks_per_day;
    for (unsigned year = now.wYear + 1u; year + 2 > now.wYear; --year) {
        m.year = year;
        const auto time = file_time(m);
        if (time && ticks(*time) <= latest)
            return time;
    }
    return std::nullopt;
}

// Splits off up to out.size() words separated by runs of spaces; the views
// point into `line`, so what follows a word is found from it.
size_t split_words(std::string_view line, std::span<std::string_view> out)
{
    size_t count = 0, at = 0;
    while (count < out.size()) {
        at = line.find_first_not_of(' ', at);
        if (at == std::string_view::npos)
            break;
        const size_t end = std::min(line.find(' ', at), line.size());
        out[count++] = line.substr(at, end - at);
        at = end;
    }
    return count;
}

std::string_view after(std::string_view line, std::string_view word)
{
    return line.substr(static_cast<size_t>(word.data() + word.size() - line.data()));
}

std::string_view without_leading_spaces(std::string_view text)
{
    return text.substr(std::min(text.find_first_not_of(' '), text.size()));
}

// A name that would reach outside this directory, or break a command line
// it is later sent in, makes no entry of it. A backslash is a plain
// character of a name on the wire (a Unix server's "x\y.txt"); where a
// name becomes a local path, that layer refuses it.
ListingLine entry_named(std::string_view name, bool directory, unsigned long long size, FILETIME modified)
{
    if (name == "."sv || name == ".."sv)
        return no_entry();
    if (name.empty() || name.find_first_of(std::string_view("/\0\r\n", 4)) != std::string_view::npos)
        return not_understood();
    return {LineKind::entry, {std::string(name), directory, size, modified}};
}

// "modify" and the like: YYYYMMDDHHMMSS, then maybe a fraction of a second.
std::optional<FILETIME> mlsd_time(std::string_view text)
{
    const std::string_view whole = text.substr(0, 14), fraction = text.substr(std::min<size_t>(14, text.size()));
    if (whole.size() != 14 || !number(whole))
        return std::nullopt;
    if (!fraction.empty() &&
        (fraction.size() < 2 || fraction[0] != '.' || fraction.find_first_not_of("0123456789"sv, 1) != std::string_view::npos))
        return std::nullopt;
    Moment m{*field(whole.substr(0, 4), 4, 4), *field(whole.substr(4, 2), 2, 2), *field(whole.substr(6, 2), 2, 2),
             *field(whole.substr(8, 2), 2, 2), *field(whole.substr(10, 2), 2, 2), *field(whole.substr(12, 2), 2, 2)};
    // Milliseconds from the first three digits of any number given.
    const std::string_view thousandths = fraction.substr(std::min<size_t>(1, fraction.size()), 3);
    for (size_t i = 0; i < 3; ++i)
        m.millisecond = m.millisecond * 10 + (i < thousandths.size() ? static_cast<unsigned>(thousandths[i] - '0') : 0);
    return file_time(m);
}

// "-rw-r--r--" and its kin, with an ACL or security context mark after it.
bool is_unix_mode(std::string_view mode)
{
    if (mode.size() == 11 && (mode[10] == '+' || mode[10] == '.' || mode[10] == '@'))
        mode.remove_suffix(1);
    if (mode.size() != 10 || "-dlbcps"sv.find(mode[0]) == std::string_view::npos)
        return false;
    return mode.substr(1).find_first_not_of("-rwxsStTlL"sv) == std::string_view::npos;
}

// The date of a Unix line from `words[at]` on: "Mon DD HH:MM", "Mon DD YYYY"
// or "YYYY-MM-DD HH:MM"; `last` becomes the date's last word.
std::optional<FILETIME> unix_date(std::span<const std::string_view> words, size_t at, const SYSTEMTIME& now,
                                  size_t& last)
{
    Moment m;
    if (at + 1 < words.size() && words[at].size() == 10 && words[at][4] == '-' && words[at][7] == '-') {
        const auto year = field(words[at].substr(0, 4), 4, 4), month = field(words[at].substr(5, 2), 2, 2),
                   day = field(words[at].substr(8, 2), 2, 2);
        if (!year || !month || !day || !read_clock(words[at + 1], m))
            return std::nullopt;
        m.year = *year;
        m.month = *month;
        m.day = *day;
        last = at + 1;
        return file_time(m);
    }
    if (at + 2 >= words.size())
        return std::nullopt;
    const auto month = month_named(words[at]);
    const auto day = field(words[at + 1], 1, 2);
    if (!month || !day)
        return std::nullopt;
    m.month = *month;
    m.day = *day;
    last = at + 2;
    if (const auto year = field(words[at + 2], 4, 4)) {
        // No time of day: noon, as the platform's listing gives it, so
        // that the day stays the same when shown in any local time zone.
        m.year = *year;
        m.hour = 12;
        return file_time(m);
    }
    if (!read_clock(words[at + 2], m))
        return std::nullopt;
    return place_in_year(m, now);
}

// mode, links, owner, [group,] size, date, name.
ListingLine parse_unix_line(std::string_view line, const SYSTEMTIME& now)
{
    std::array<std::string_view, 9> words;
    const size_t count = split_words(line, words);
    const std::span<const std::string_view> found(words.data(), count);
    if (count < 7 || !is_unix_mode(words[0]))
        return not_understood();
    // Where the size is depends on whether the group is shown; only one of
    // the two places has a number followed by a date.
    for (size_t size_at : {3u, 4u}) {
        const auto size = size_at < count ? number(words[size_at]) : std::nullopt;
        size_t last = 0;
        const auto date = size ? unix_date(found, size_at + 1, now, last) : std::nullopt;
        if (!date || last + 1 >= count)
            continue;
        // The name is all after the single space that ends the date, its own
        // leading spaces included: the date column is padded to one width.
        std::string_view name = after(line, words[last]).substr(1);
        if (words[0][0] == 'l')
            name = name.substr(0, name.find(" -> "sv));
        return entry_named(name, words[0][0] == 'd', *size, *date);
    }
    return not_understood();
}

// "MM-DD-YY  HH:MMAM  <DIR>  name" or "... size name", years of two or
// four digits, 12-hour or 24-hour clock.
ListingLine parse_dos_line(std::string_view line)
{
    std::array<std::string_view, 4> words;
    if (split_words(line, words) < 4)
        return not_understood();
    const std::string_view date = words[0];
    Moment m;
    if ((date.size() != 8 && date.size() != 10) || date[2] != '-' || date[5] != '-')
        return not_understood();
    const auto month = field(date.substr(0, 2), 2, 2), day = field(date.substr(3, 2), 2, 2),
               year = field(date.substr(6), 2, 4);
    if (!month || !day || !year)
        return not_understood();
    m.month = *month;
    m.day = *day;
    // The Windows rule for two-digit years.
    m.year = date.size() == 10 ? *year : *year + (*year < 70 ? 2000 : 1900);

    std::string_view clock = words[1];
    const bool pm = clock.ends_with("PM"sv) || clock.ends_with("pm"sv);
    const bool twelve_hour = pm || clock.ends_with("AM"sv) || clock.ends_with("am"sv);
    if (twelve_hour)
        clock.remove_suffix(2);
    if (!read_clock(clock, m) || (twelve_hour && (m.hour < 1 || m.hour > 12)))
        return not_understood();
    if (twelve_hour)
        m.hour = m.hour % 12 + (pm ? 12 : 0);
    const auto time = file_time(m);

    const bool directory = words[2] == "<DIR>"sv;
    const auto size = directory ? std::optional<unsigned long long>(0) : number(words[2]);
    if (!time || !size)
        return not_understood();
    // The size column is padded, so spaces before the name cannot be told
    // from the padding: they are dropped.
    return entry_named(without_leading_spaces(after(line, words[2])), directory, *size, *time);
}

bool is_total_line(std::string_view line)
{
    if (!line.starts_with("total "sv))
        return false;
    return number(without_leading_spaces(line.substr(6))).has_value();
}

}  // namespace

ListingLine parse_mlsd_line(std::string_view line)
{
    // Fact values hold no spaces, so the first one ends the facts; the name
    // is the rest, exactly.
    const size_t space = line.find(' ');
    if (space == std::string_view::npos)
        return not_understood();
    std::string_view facts = line.substr(0, space);
    std::optional<std::string_view> type;
    unsigned long long size = 0;
    FILETIME modified{};
    while (!facts.empty()) {
        const size_t end = std::min(facts.find(';'), facts.size());
        const std::string_view fact = facts.substr(0, end);
        facts.remove_prefix(std::min(end + 1, facts.size()));
        if (fact.empty())
            continue;
        const size_t equals = fact.find('=');
        if (equals == 0 || equals == std::string_view::npos)
            return not_understood();
        const std::string_view name = fact.substr(0, equals), value = fact.substr(equals + 1);
        if (same_text(name, "type"sv)) {
            type = value;
        } else if (same_text(name, "size"sv) || same_text(name, "sizd"sv)) {
            const auto bytes = number(value);
            if (!bytes)
                return not_understood();
            size = *bytes;
        } else if (same_text(name, "modify"sv)) {
            const auto time = mlsd_time(value);
            if (!time)
                return not_understood();
            modified = *time;
        }
    }
    if (!type)
        return not_understood();
    // Decided before the name is looked at: cdir and pdir name paths.
    const bool directory = same_text(*type, "dir"sv);
    if (!directory && !same_text(*type, "file"sv) && !starts_with_text(*type, "OS.unix=slink"sv) &&
        !starts_with_text(*type, "OS.unix=symlink"sv))
        return no_entry();
    return entry_named(line.substr(space + 1), directory, size, modified);
}

ListingLine parse_list_line(std::string_view line, const SYSTEMTIME& now)
{
    if (line.find_first_not_of(' ') == std::string_view::npos || is_total_line(line))
        return no_entry();
    return is_digit(line[0]) ? parse_dos_line(line) : parse_unix_line(line, now);
}

}  // namespace corvane::ftpproto
