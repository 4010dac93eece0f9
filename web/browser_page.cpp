// The directory browser written into an ASP page: a parent link, then the
// directories, then the files, each linking back to the same page.

#include "web/browser_page.h"

#include "frame/error.h"
#include "frame/error_text.h"
#include "frame/text.h"
#include "ftp/ftp_errors.h"
#include "ftp/listing.h"
#include "web/download.h"
#include "web/utf8_links.h"

#include <array>

namespace corvane::web {

namespace {

using ftp::ListingEntry;
using ftp::WireText;

constexpr std::array<std::wstring_view, 14> table_start = {
    L"<style><!--\n",
    L".ftp_alternating_line_1\n",
    L"{\n",
    L" background-color: #EEEEEE;\n",
    L"}\n",
    L".ftp_alternating_line_2\n",
    L"{\n",
    L" background-color: #DDDDDD;\n",
    L"}\n",
    L"--></style>\n",
    L"<table border=\"1\" cellspacing=\"0\" cellpadding=\"5\">",
    L"<tr><td colspan=\"2\">",
    L"</td></tr>",
    L"<tr><td><b>File/Directory Name</b></td><td><b>File Size</b></td></tr>",
};
constexpr std::wstring_view parent_row_start = L"<tr><td colspan=\"2\"><a href=\"";
constexpr std::wstring_view parent_row_end = L"\">..</a></td></tr>";

// The ".." target: the part of d up to the "/" before its last segment.
std::wstring parent_path(const std::wstring& directory)
{
    if (directory.size() == 1)
        return L"/";
    const size_t last = directory.back() == L'/' ? directory.size() - 2 : directory.size() - 1;
    const size_t slash = directory.rfind(L'/', last);
    return slash == std::wstring::npos ? L"/" : directory.substr(0, slash + 1);
}

// The address of the page itself, for its links.
std::wstring page_url(const AspPage& page)
{
    const std::wstring https = page.server_variable(L"HTTPS");
    std::wstring url = equal_ignoring_case(https, L"ON") ? L"https://" : L"http://";
    url += page.server_variable(L"SERVER_NAME");
    const std::wstring port = page.server_variable(L"SERVER_PORT");
    if (port != L"80")
        url += L":" + port;
    url += page.server_variable(L"SCRIPT_NAME");
    return url;
}

// Links and names as the page shows them. With names in UTF-8 the page's
// code page plays no part: links carry UTF-8 and come back through the raw
// query string, names go in as character references.
struct PageText {
    const AspPage& page;
    bool utf8;

    std::wstring link_target(std::wstring_view path) const
    {
        return utf8 ? utf8_url_encode(path) : page.url_encode(path);
    }
    std::wstring name(std::wstring_view text) const { return utf8 ? html_text_references(text) : html_escape(text); }
    // Refused when it is not what a link of this page carries.
    WireText requested(const ftp::Session& session, std::wstring_view key, const ErrorCode& error) const
    {
        if (!utf8)
            return session.wire(page.query_string(key), error);
        const std::optional<std::wstring> value =
            utf8_query_item(page.server_variable(L"QUERY_STRING"), key);
        if (!value)
            raise_with_reason(error, L"The request's \"" + std::wstring(key) + L"\" is not valid UTF-8, so it was not sent.");
        return session.wire(*value, error);
    }
};

std::wstring table_row(const PageText& text, const ListingEntry& entry, unsigned parity, const std::wstring& url,
                       const std::wstring& directory)
{
    std::wstring row = L"<tr class=\"ftp_alternating_line_" + std::to_wstring(parity + 1) + L"\">";
    const std::wstring target = text.link_target(directory + entry.name);
    const std::wstring link_start = L"<td><a href=\"" + html_escape(url);
    if (!entry.directory) {
        row += link_start + L"?f=" + target + L"\">" + text.name(entry.name) + L"</a></td>";
        row += L"<td>" + ftp::size_text(entry.size) + L"</td>";
    } else {
        row += link_start + L"?d=" + target + L"\">" + text.name(entry.name) + L"</a></td>";
        row += L"<td>&nbsp;</td>";
    }
    return row + L"</tr>";
}

}  // namespace

void print_client(ftp::Session& session, const AspPage& page)
{
    if (!session.connected())
        return;
    // Any visitor of the page chooses these; both are checked before the
    // first command goes out.
    const PageText text{page, session.name_encoding() == ftp::NameEncoding::utf8};
    const WireText requested_directory = text.requested(session, L"d", ftp::errors::set_directory);
    const WireText requested_file = text.requested(session, L"f", ftp::errors::open_file);
    const std::wstring previous_directory = session.current_directory();

    std::wstring parent = L"/";
    if (!trim_spaces(requested_directory.text()).empty()) {
        session.change_directory(requested_directory);
        parent = parent_path(requested_directory.text());
    }

    if (!trim_spaces(requested_file.text()).empty() || !trim_spaces(page.form(L"u")).empty()) {
        send_file(session, page, requested_file);
    } else {
        const std::vector<ListingEntry> entries = session.list();
        // Once per call, not once per row.
        const std::wstring url = page_url(page);
        const std::wstring directory = entries.empty() ? std::wstring() : session.current_directory();

        for (std::wstring_view piece : table_start)
            page.write(piece);
        page.write(std::wstring(parent_row_start) + html_escape(url) + L"?d=" + text.link_target(parent) +
                   std::wstring(parent_row_end));
        unsigned long rows = 0;
        for (const bool directories : {true, false}) {
            for (const ListingEntry& entry : entries) {
                if (entry.directory == directories)
                    page.write(table_row(text, entry, rows++ % 2, url, directory));
            }
        }
        page.write(L"</table>");
    }
    session.change_directory(session.wire(previous_directory, ftp::errors::set_directory));
}

}  // namespace corvane::web
