// The directory browser written into an ASP page: a parent link, then the
// directories, then the files, each linking back to the same page.

#include "ftp/ftp.h"

#include "frame/text.h"

#include <array>

namespace corvane {

namespace {

constexpr HRESULT set_directory_error = static_cast<HRESULT>(0x80040203);
constexpr HRESULT open_error = static_cast<HRESULT>(0x80040211);

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

// Text as it may stand in an element or an attribute value.
std::wstring html_encode(std::wstring_view text)
{
    std::wstring result;
    result.reserve(text.size());
    for (wchar_t character : text) {
        switch (character) {
        case L'&': result += L"&amp;"; break;
        case L'<': result += L"&lt;"; break;
        case L'>': result += L"&gt;"; break;
        case L'"': result += L"&quot;"; break;
        case L'\'': result += L"&#39;"; break;
        default: result += character; break;
        }
    }
    return result;
}

// The page address inside an href: it comes from the request's server
// variables, which a client can influence.
std::wstring attribute_encode(std::wstring_view text)
{
    std::wstring result;
    for (wchar_t character : text) {
        switch (character) {
        case L'&': result += L"&amp;"; break;
        case L'<': result += L"&lt;"; break;
        case L'>': result += L"&gt;"; break;
        case L'"': result += L"&quot;"; break;
        default: result += character; break;
        }
    }
    return result;
}

// The ".." target: the part of d up to the "/" before its last segment.
std::wstring parent_path(const std::wstring& directory)
{
    if (directory.size() == 1)
        return L"/";
    const size_t last = directory.back() == L'/' ? directory.size() - 2 : directory.size() - 1;
    const size_t slash = directory.rfind(L'/', last);
    return slash == std::wstring::npos ? L"/" : directory.substr(0, slash + 1);
}

}  // namespace

std::wstring FTP::GetPageURL()
{
    std::wstring https = page.server_variable(L"HTTPS");
    for (wchar_t& character : https)
        character = static_cast<wchar_t>(std::towupper(character));
    std::wstring url = https == L"ON" ? L"https://" : L"http://";
    url += page.server_variable(L"SERVER_NAME");
    const std::wstring port = page.server_variable(L"SERVER_PORT");
    if (port != L"80")
        url += L":" + port;
    url += page.server_variable(L"SCRIPT_NAME");
    return url;
}

std::wstring FTP::GetTableRow(const FTPFile& entry, unsigned parity, const std::wstring& page_url,
                              const std::wstring& directory)
{
    std::wstring row = L"<tr class=\"ftp_alternating_line_" + std::to_wstring(parity + 1) + L"\">";
    const std::wstring target = page.url_encode(directory + entry.filename());
    const std::wstring link_start = L"<td><a href=\"" + attribute_encode(page_url);
    if (entry.file_type_value() == FTPFileEntry) {
        row += link_start + L"?f=" + target + L"\">" + html_encode(entry.filename()) + L"</a></td>";
        row += L"<td>" + size_text(entry.size()) + L"</td>";
    } else {
        row += link_start + L"?d=" + target + L"\">" + html_encode(entry.filename()) + L"</a></td>";
        row += L"<td>&nbsp;</td>";
    }
    return row + L"</tr>";
}

void FTP::print_client()
{
    if (!bool_connected)
        return;
    // Any visitor of the page chooses these; both are checked before the
    // first command goes out.
    const WireText requested_directory(page.query_string(L"d"), set_directory_error, L"Error setting directory.");
    const WireText requested_file(page.query_string(L"f"), open_error, L"Error attempting to open file.");
    const std::wstring previous_directory = current_directory();

    std::wstring parent = L"/";
    if (!trim_spaces(requested_directory.text()).empty()) {
        change_directory(requested_directory);
        parent = parent_path(requested_directory.text());
    }

    if (!trim_spaces(requested_file.text()).empty() || !trim_spaces(page.form(L"u")).empty()) {
        download_file_to_client(requested_file);
    } else {
        const ComPtr<FTPFiles> files = list_directory();
        // Once per call, not once per row.
        const std::wstring page_url = GetPageURL();
        const std::wstring directory = files->size() ? current_directory() : std::wstring();

        for (std::wstring_view piece : table_start)
            page.write(piece);
        page.write(std::wstring(parent_row_start) + attribute_encode(page_url) + L"?d=" + page.url_encode(parent) +
                   std::wstring(parent_row_end));
        unsigned long rows = 0;
        for (LONG wanted : {LONG{FTPDirectory}, LONG{FTPFileEntry}}) {
            for (size_t index = 0; index < files->size(); ++index) {
                const FTPFile& entry = files->entry(index);
                if (entry.file_type_value() == wanted)
                    page.write(GetTableRow(entry, rows++ % 2, page_url, directory));
            }
        }
        page.write(L"</table>");
    }
    change_directory(WireText(previous_directory, set_directory_error, L"Error setting directory."));
}

HRESULT FTP::PrintClient()
{
    return member([&] { print_client(); });
}

}  // namespace corvane
