#include "tools/aspdev/page_source.h"

#include "tools/asp_host/page_state.h"

#include "frame/text.h"

#include <algorithm>
#include <cwctype>
#include <string_view>

namespace corvane::aspdev {

namespace {

size_t skip_spaces(std::wstring_view text, size_t at)
{
    while (at < text.size() && std::iswspace(text[at]))
        ++at;
    return at;
}

// `<!-- #include file="x" -->` at `at`: its end, kind and target.
struct IncludeDirective {
    size_t end;
    bool is_virtual;
    std::wstring target;
};

std::optional<IncludeDirective> include_at(std::wstring_view text, size_t at)
{
    if (!starts_with_ignoring_case(text.substr(at), L"<!--"))
        return std::nullopt;
    size_t i = skip_spaces(text, at + 4);
    if (!starts_with_ignoring_case(text.substr(i), L"#include"))
        return std::nullopt;
    i = skip_spaces(text, i + 8);
    IncludeDirective directive{};
    if (starts_with_ignoring_case(text.substr(i), L"file")) {
        i += 4;
    } else if (starts_with_ignoring_case(text.substr(i), L"virtual")) {
        directive.is_virtual = true;
        i += 7;
    } else {
        return std::nullopt;
    }
    i = skip_spaces(text, i);
    if (i >= text.size() || text[i] != L'=')
        return std::nullopt;
    i = skip_spaces(text, i + 1);
    if (i < text.size() && text[i] == L'"') {
        const size_t close = text.find(L'"', i + 1);
        if (close == std::wstring_view::npos)
            return std::nullopt;
        directive.target = text.substr(i + 1, close - i - 1);
        i = close + 1;
    } else {
        const size_t start = i;
        while (i < text.size() && !std::iswspace(text[i]) && text[i] != L'-')
            ++i;
        directive.target = text.substr(start, i - start);
    }
    i = skip_spaces(text, i);
    if (!starts_with_ignoring_case(text.substr(i), L"-->"))
        return std::nullopt;
    directive.end = i + 3;
    return directive;
}

// The expanded text and, per line of it, where that line began.
struct Expanded {
    std::wstring text;
    std::vector<SourceLine> lines{SourceLine{}};
};

struct Expander {
    const ReadSiteFile& read;
    Expanded out;
    std::vector<std::wstring> chain;

    void append(std::wstring_view chunk, const std::wstring& file, int& line)
    {
        for (const wchar_t c : chunk) {
            out.text += c;
            if (c == L'\n') {
                ++line;
                out.lines.push_back({file, line});
            }
        }
    }

    bool at_line_start() const { return out.text.empty() || out.text.back() == L'\n'; }

    std::optional<PageError> expand(const std::wstring& address, const SourceLine& included_from)
    {
        if (chain.size() >= max_include_depth)
            return PageError{included_from, L"Includes are nested more than 16 deep."};
        if (std::find(chain.begin(), chain.end(), address) != chain.end())
            return PageError{included_from, L"The file includes itself: " + address};
        const std::optional<std::wstring> text = read(address);
        if (!text)
            return PageError{included_from, L"The include file was not found: " + address};
        chain.push_back(address);
        if (at_line_start())
            out.lines.back() = {address, 1};
        int line = 1;
        size_t done = 0;
        size_t at = text->find(L"<!--");
        while (at != std::wstring::npos) {
            const std::optional<IncludeDirective> directive = include_at(*text, at);
            if (!directive) {
                at = text->find(L"<!--", at + 1);
                continue;
            }
            append(std::wstring_view(*text).substr(done, at - done), address, line);
            const SourceLine here{address, line};
            const std::optional<std::wstring> target =
                include_address(address, directive->target, directive->is_virtual);
            if (!target)
                return PageError{here, L"The include is outside the site: " + directive->target};
            if (auto error = expand(*target, here))
                return error;
            // Whatever follows the directive stays on its own file's line.
            for (size_t i = at; i < directive->end; ++i)
                line += (*text)[i] == L'\n' ? 1 : 0;
            done = directive->end;
            at = text->find(L"<!--", done);
        }
        append(std::wstring_view(*text).substr(done), address, line);
        chain.pop_back();
        return std::nullopt;
    }
};

struct Writer {
    const Expanded& source;
    PageScript page;

    Writer(const Expanded& expanded) : source(expanded) { page.lines.push_back(source.lines.front()); }

    // Each statement starts a script line of its own; `line` is the source
    // line it begins on, and every newline in it is one of the source's.
    void emit(std::wstring_view text, size_t line)
    {
        if (!page.script.empty() && page.script.back() != L'\n') {
            page.script += L'\n';
            page.lines.push_back(source.lines[line]);
        } else {
            page.lines.back() = source.lines[line];
        }
        for (const wchar_t c : text) {
            page.script += c;
            if (c == L'\n') {
                ++line;
                page.lines.push_back(source.lines[std::min(line, source.lines.size() - 1)]);
            }
        }
    }
};

size_t newlines_in(std::wstring_view text)
{
    return static_cast<size_t>(std::count(text.begin(), text.end(), L'\n'));
}

std::wstring_view trim(std::wstring_view text)
{
    while (!text.empty() && std::iswspace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && std::iswspace(text.back()))
        text.remove_suffix(1);
    return text;
}

// `<%@ Language=VBScript CodePage=65001 %>`: only the language matters
// here, and only VBScript is run.
std::optional<std::wstring> check_directive(std::wstring_view text)
{
    size_t at = 0;
    for (;;) {
        at = skip_spaces(text, at);
        if (at >= text.size())
            return std::nullopt;
        const size_t name_start = at;
        while (at < text.size() && text[at] != L'=' && !std::iswspace(text[at]))
            ++at;
        const std::wstring_view name = text.substr(name_start, at - name_start);
        at = skip_spaces(text, at);
        if (at >= text.size() || text[at] != L'=')
            return L"The page directive is not \"Name=Value\" pairs.";
        at = skip_spaces(text, at + 1);
        std::wstring_view value;
        if (at < text.size() && text[at] == L'"') {
            const size_t close = text.find(L'"', at + 1);
            if (close == std::wstring_view::npos)
                return L"The page directive has an unclosed quote.";
            value = text.substr(at + 1, close - at - 1);
            at = close + 1;
        } else {
            const size_t start = at;
            while (at < text.size() && !std::iswspace(text[at]))
                ++at;
            value = text.substr(start, at - start);
        }
        const bool is_language = name.size() == 8 && starts_with_ignoring_case(name, L"language");
        if (is_language && !(value.size() == 8 && starts_with_ignoring_case(value, L"vbscript")) &&
            !(value.size() == 3 && starts_with_ignoring_case(value, L"vbs")))
            return L"Only VBScript pages are served; the page asks for " + std::wstring(value) + L".";
    }
}

// The length of a leading `Option Explicit`, 0 when the code has none.
size_t option_explicit_length(std::wstring_view code)
{
    const size_t start = skip_spaces(code, 0);
    std::wstring_view rest = code.substr(start);
    if (!starts_with_ignoring_case(rest, L"option"))
        return 0;
    size_t at = 6;
    if (at >= rest.size() || !std::iswspace(rest[at]))
        return 0;
    at = skip_spaces(rest, at);
    if (!starts_with_ignoring_case(rest.substr(at), L"explicit"))
        return 0;
    at += 8;
    if (at < rest.size() && (std::iswalnum(rest[at]) || rest[at] == L'_'))
        return 0;
    return start + at;
}

}  // namespace

std::optional<std::wstring> include_address(const std::wstring& including, const std::wstring& target,
                                            bool is_virtual)
{
    // A file include names a file beside the including one, never by its
    // address from the root.
    if (!is_virtual && !target.empty() && (target.front() == L'/' || target.front() == L'\\'))
        return std::nullopt;
    const std::optional<std::vector<std::wstring>> segments = asp_host::resolve_site_address(including, target);
    if (!segments || segments->empty())
        return std::nullopt;
    std::wstring address;
    for (const std::wstring& segment : *segments)
        address += L"/" + segment;
    return address;
}

std::variant<PageScript, PageError> translate_page(const std::wstring& address, const ReadSiteFile& read)
{
    Expander expander{read, {}, {}};
    if (auto error = expander.expand(address, {address, 1}))
        return *error;
    const Expanded& expanded = expander.out;
    const std::wstring_view text = expanded.text;

    Writer writer(expanded);
    std::optional<size_t> hoisted_line;  // of a leading Option Explicit
    bool seen_code = false;
    size_t line = 0;
    size_t at = 0;
    while (at < text.size()) {
        const size_t open = text.find(L"<%", at);
        const std::wstring_view literal = text.substr(at, open == std::wstring_view::npos ? text.npos : open - at);
        if (!literal.empty()) {
            if (writer.page.blocks.size() >= 32767)
                return PageError{expanded.lines[line], L"The page has more than 32767 blocks of text."};
            writer.emit(L"Response.WriteBlock " + std::to_wstring(writer.page.blocks.size()), line);
            writer.page.blocks.emplace_back(literal);
            line += newlines_in(literal);
        }
        if (open == std::wstring_view::npos)
            break;
        const size_t close = text.find(L"%>", open + 2);
        if (close == std::wstring_view::npos)
            return PageError{expanded.lines[line], L"A \"<%\" has no \"%>\"."};
        std::wstring_view inside = text.substr(open + 2, close - open - 2);
        if (!inside.empty() && inside.front() == L'@') {
            if (auto problem = check_directive(inside.substr(1)))
                return PageError{expanded.lines[line], *problem};
        } else if (!inside.empty() && inside.front() == L'=') {
            writer.emit(L"Response.Write (" + std::wstring(trim(inside.substr(1))) + L")", line);
        } else {
            size_t code_line = line;
            if (!seen_code) {
                seen_code = true;
                if (const size_t length = option_explicit_length(inside)) {
                    code_line += newlines_in(inside.substr(0, length));
                    hoisted_line = code_line;
                    inside.remove_prefix(length);
                }
            }
            writer.emit(inside, code_line);
        }
        line += newlines_in(text.substr(open, close + 2 - open));
        at = close + 2;
    }
    PageScript page = std::move(writer.page);
    // VBScript takes Option Explicit only before every other statement;
    // the text ahead of it on the page is usually a line break.
    if (hoisted_line) {
        page.script.insert(0, L"Option Explicit\n");
        page.lines.insert(page.lines.begin(), expanded.lines[*hoisted_line]);
    }
    return page;
}

}  // namespace corvane::aspdev
