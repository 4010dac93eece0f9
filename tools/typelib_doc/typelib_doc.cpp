// Prints the parts of the object reference that the type library decides:
// per class its default interface with the members it inherits, and the
// enumerations. Writes them into the reference, or checks the reference
// against them and against the error catalogues.
//
//   typelib_doc LIBRARY                            the generated parts
//   typelib_doc LIBRARY --write REFERENCE          replaced in place
//   typelib_doc LIBRARY --check REFERENCE CATALOGUE...
//
// LIBRARY is corvane.dll (its embedded library) or a .tlb file.

#include <windows.h>
#include <oleauto.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// Owns one reference; the tool holds few objects and never shares them.
template <typename Interface>
class Ref {
public:
    Ref() = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref& operator=(Ref&& other) noexcept
    {
        if (this != &other) {
            if (pointer_)
                pointer_->Release();
            pointer_ = std::exchange(other.pointer_, nullptr);
        }
        return *this;
    }
    ~Ref()
    {
        if (pointer_)
            pointer_->Release();
    }
    Interface** put() { return &pointer_; }
    Interface* operator->() const { return pointer_; }
    Interface* get() const { return pointer_; }

private:
    Interface* pointer_ = nullptr;
};

class Bstr {
public:
    Bstr() = default;
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(text_); }
    BSTR* put() { return &text_; }
    std::string utf8() const
    {
        if (!text_)
            return {};
        const int wide_length = static_cast<int>(SysStringLen(text_));
        const int length = WideCharToMultiByte(CP_UTF8, 0, text_, wide_length, nullptr, 0, nullptr, nullptr);
        std::string result(static_cast<size_t>(length), '\0');
        WideCharToMultiByte(CP_UTF8, 0, text_, wide_length, result.data(), length, nullptr, nullptr);
        return result;
    }

private:
    BSTR text_ = nullptr;
};

struct Failure {
    std::string what;
};

void check(HRESULT result, const char* step)
{
    if (FAILED(result)) {
        char code[16];
        std::snprintf(code, sizeof code, "%08lX", static_cast<unsigned long>(result));
        throw Failure{std::string(step) + " failed with " + code};
    }
}

std::wstring wide(const std::string& text)
{
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
    return result;
}

std::string name_of(ITypeInfo* info, MEMBERID member = MEMBERID_NIL)
{
    Bstr name;
    check(info->GetDocumentation(member, name.put(), nullptr, nullptr, nullptr), "GetDocumentation");
    return name.utf8();
}

std::string help_of(ITypeInfo* info, MEMBERID member = MEMBERID_NIL)
{
    Bstr help;
    check(info->GetDocumentation(member, nullptr, help.put(), nullptr, nullptr), "GetDocumentation");
    return help.utf8();
}

// Table cells hold no line break and no unescaped column bar.
std::string cell(const std::string& text)
{
    std::string result;
    for (char character : text) {
        if (character == '|')
            result += "\\|";
        else if (character == '\r' || character == '\n')
            result += ' ';
        else
            result += character;
    }
    return result;
}

class TypeAttributes {
public:
    explicit TypeAttributes(ITypeInfo* info) : info_(info) { check(info->GetTypeAttr(&attributes_), "GetTypeAttr"); }
    TypeAttributes(const TypeAttributes&) = delete;
    TypeAttributes& operator=(const TypeAttributes&) = delete;
    ~TypeAttributes() { info_->ReleaseTypeAttr(attributes_); }
    const TYPEATTR* operator->() const { return attributes_; }

private:
    ITypeInfo* info_;
    TYPEATTR* attributes_ = nullptr;
};

class FunctionDescription {
public:
    FunctionDescription(ITypeInfo* info, UINT index) : info_(info)
    {
        check(info->GetFuncDesc(index, &description_), "GetFuncDesc");
    }
    FunctionDescription(const FunctionDescription&) = delete;
    FunctionDescription& operator=(const FunctionDescription&) = delete;
    ~FunctionDescription() { info_->ReleaseFuncDesc(description_); }
    const FUNCDESC* operator->() const { return description_; }

private:
    ITypeInfo* info_;
    FUNCDESC* description_ = nullptr;
};

class Library {
public:
    explicit Library(const std::string& path)
    {
        check(LoadTypeLibEx(wide(path).c_str(), REGKIND_NONE, library_.put()), "LoadTypeLibEx");
        for (UINT index = 0; index < library_->GetTypeInfoCount(); ++index) {
            TYPEKIND kind{};
            check(library_->GetTypeInfoType(index, &kind), "GetTypeInfoType");
            if (kind == TKIND_COCLASS)
                classes_.push_back(index);
            else if (kind == TKIND_ENUM)
                enums_.push_back(index);
        }
    }

    ITypeLib* get() const { return library_.get(); }
    const std::vector<UINT>& classes() const { return classes_; }
    const std::vector<UINT>& enums() const { return enums_; }

    // A class whose default interface this is: scripts know the object by
    // the class's name.
    std::optional<std::string> class_with_default(const GUID& interface_id) const
    {
        for (UINT index : classes_) {
            Ref<ITypeInfo> info;
            check(library_->GetTypeInfo(index, info.put()), "GetTypeInfo");
            Ref<ITypeInfo> default_interface;
            if (default_of(info.get(), default_interface) &&
                IsEqualGUID(TypeAttributes(default_interface.get())->guid, interface_id))
                return name_of(info.get());
        }
        return std::nullopt;
    }

    static bool default_of(ITypeInfo* class_info, Ref<ITypeInfo>& result)
    {
        const TypeAttributes attributes(class_info);
        for (UINT index = 0; index < attributes->cImplTypes; ++index) {
            INT flags = 0;
            HREFTYPE reference = 0;
            if (SUCCEEDED(class_info->GetImplTypeFlags(index, &flags)) && (flags & IMPLTYPEFLAG_FDEFAULT) &&
                SUCCEEDED(class_info->GetRefTypeOfImplType(index, &reference)))
                return SUCCEEDED(class_info->GetRefTypeInfo(reference, result.put()));
        }
        return false;
    }

private:
    Ref<ITypeLib> library_;
    std::vector<UINT> classes_;
    std::vector<UINT> enums_;
};

std::string type_text(const Library& library, ITypeInfo* context, const TYPEDESC& type)
{
    switch (type.vt) {
    case VT_PTR:
        return type_text(library, context, *type.lptdesc);
    case VT_SAFEARRAY:
        return type_text(library, context, *type.lptdesc) + "()";
    case VT_USERDEFINED: {
        Ref<ITypeInfo> referenced;
        check(context->GetRefTypeInfo(type.hreftype, referenced.put()), "GetRefTypeInfo");
        const TypeAttributes attributes(referenced.get());
        if (attributes->typekind == TKIND_INTERFACE || attributes->typekind == TKIND_DISPATCH) {
            if (const auto class_name = library.class_with_default(attributes->guid))
                return *class_name;
        }
        return name_of(referenced.get());
    }
    case VT_VARIANT: return "Variant";
    case VT_BSTR: return "String";
    case VT_BOOL: return "Boolean";
    case VT_I1: return "SByte";
    case VT_UI1: return "Byte";
    case VT_I2: return "Integer";
    case VT_UI2: return "UShort";
    case VT_I4: case VT_INT: return "Long";
    case VT_UI4: case VT_UINT: return "ULong";
    case VT_I8: return "LongLong";
    case VT_UI8: return "ULongLong";
    case VT_R4: return "Single";
    case VT_R8: return "Double";
    case VT_CY: return "Currency";
    case VT_DATE: return "Date";
    case VT_DISPATCH: return "Object";
    case VT_UNKNOWN: return "IUnknown";
    case VT_HRESULT: return "HRESULT";
    case VT_VOID: return "";
    default: return "VT " + std::to_string(type.vt);
    }
}

std::string default_value_text(const VARIANT& value)
{
    VARIANT text;
    VariantInit(&text);
    if (FAILED(VariantChangeType(&text, const_cast<VARIANT*>(&value), VARIANT_ALPHABOOL, VT_BSTR)))
        return "?";
    Bstr owner;
    *owner.put() = text.bstrVal;
    const std::string result = owner.utf8();
    return value.vt == VT_BSTR ? "\"" + result + "\"" : result;
}

std::string dispid_text(MEMBERID id)
{
    if (id <= 0)
        return std::to_string(id);
    char text[16];
    std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(id));
    return text;
}

struct Member {
    std::string name;
    std::string interface_name;
    MEMBERID id = 0;
    bool get = false, put = false, method = false, hidden = false;
    std::string arguments;
    std::string type;
    std::string help;
};

std::string kind_text(const Member& member)
{
    if (member.method)
        return "method";
    if (member.get && member.put)
        return "property (get, put)";
    return member.get ? "property (get)" : "property (put)";
}

// One function of an interface: its arguments as scripts pass them, and
// the type it hands back (a method's result, a property's value).
void describe(const Library& library, ITypeInfo* info, const FUNCDESC& function, Member& member)
{
    std::vector<BSTR> names(static_cast<size_t>(function.cParams) + 1, nullptr);
    UINT name_count = 0;
    check(info->GetNames(function.memid, names.data(), static_cast<UINT>(names.size()), &name_count), "GetNames");
    std::vector<std::string> arguments;
    std::string type;
    for (SHORT index = 0; index < function.cParams; ++index) {
        const ELEMDESC& parameter = function.lprgelemdescParam[index];
        const USHORT flags = parameter.paramdesc.wParamFlags;
        const std::string parameter_type = type_text(library, info, parameter.tdesc);
        if (flags & PARAMFLAG_FRETVAL) {
            type = parameter_type;
            continue;
        }
        const bool is_value = function.invkind != INVOKE_FUNC && index == function.cParams - 1;
        if (is_value) {
            type = parameter_type;
            continue;
        }
        const UINT name_index = static_cast<UINT>(index) + 1;
        std::string text;
        if (name_index < name_count && names[name_index]) {
            Bstr name;
            *name.put() = names[name_index];
            names[name_index] = nullptr;
            text = name.utf8();
        } else {
            text = "argument" + std::to_string(index + 1);
        }
        if ((flags & PARAMFLAG_FOUT) != 0)
            text = "ByRef " + text;
        text += " As " + parameter_type;
        if ((flags & PARAMFLAG_FHASDEFAULT) != 0 && parameter.paramdesc.pparamdescex)
            text = "[" + text + " = " + default_value_text(parameter.paramdesc.pparamdescex->varDefaultValue) + "]";
        else if ((flags & (PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT)) != 0)
            text = "[" + text + "]";
        arguments.push_back(text);
    }
    for (BSTR name : names)
        SysFreeString(name);
    if (type.empty() && function.elemdescFunc.tdesc.vt != VT_HRESULT)
        type = type_text(library, info, function.elemdescFunc.tdesc);

    std::string joined;
    for (const std::string& argument : arguments)
        joined += (joined.empty() ? "" : ", ") + argument;
    if (member.arguments.empty())
        member.arguments = joined;
    if (member.type.empty())
        member.type = type;
}

// The interface's own members after those it inherits, IDispatch's left
// out: they are the same for every automation object.
void collect(const Library& library, ITypeInfo* info, std::vector<Member>& members)
{
    const TypeAttributes attributes(info);
    if (IsEqualGUID(attributes->guid, IID_IDispatch) || IsEqualGUID(attributes->guid, IID_IUnknown))
        return;
    if (attributes->cImplTypes > 0) {
        HREFTYPE reference = 0;
        Ref<ITypeInfo> base;
        check(info->GetRefTypeOfImplType(0, &reference), "GetRefTypeOfImplType");
        check(info->GetRefTypeInfo(reference, base.put()), "GetRefTypeInfo");
        collect(library, base.get(), members);
    }
    const std::string interface_name = name_of(info);
    for (UINT index = 0; index < attributes->cFuncs; ++index) {
        const FunctionDescription function(info, index);
        const std::string name = name_of(info, function->memid);
        auto found = std::find_if(members.begin(), members.end(), [&](const Member& member) {
            return member.id == function->memid && member.interface_name == interface_name;
        });
        if (found == members.end()) {
            Member added;
            added.name = name;
            added.interface_name = interface_name;
            added.id = function->memid;
            members.push_back(added);
            found = members.end() - 1;
        }
        Member& member = *found;
        member.method = member.method || function->invkind == INVOKE_FUNC;
        member.get = member.get || function->invkind == INVOKE_PROPERTYGET;
        member.put = member.put || (function->invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) != 0;
        member.hidden = member.hidden || (function->wFuncFlags & FUNCFLAG_FHIDDEN) != 0;
        if (member.help.empty())
            member.help = help_of(info, function->memid);
        describe(library, info, *function.operator->(), member);
    }
}

// A dual interface as its vtable declares it: its own members, then its
// base. The dispatch view lists IUnknown's and IDispatch's among them.
ITypeInfo* vtable_view(Ref<ITypeInfo>& info)
{
    const TypeAttributes attributes(info.get());
    if (attributes->typekind != TKIND_DISPATCH || (attributes->wTypeFlags & TYPEFLAG_FDUAL) == 0)
        return info.get();
    HREFTYPE reference = 0;
    Ref<ITypeInfo> vtable;
    check(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &reference), "GetRefTypeOfImplType");
    check(info->GetRefTypeInfo(reference, vtable.put()), "GetRefTypeInfo");
    info = std::move(vtable);
    return info.get();
}

struct Section {
    std::string name;  // as in the marker: "class FTP", "enum Ftp_Transfer_Type"
    std::string text;  // the lines between the markers
};

struct Documented {
    std::vector<Section> sections;
    std::map<std::string, std::vector<std::string>> members;  // class -> member names
    std::vector<std::string> undocumented;                     // "Class.Member" without a helpstring
};

Documented document(const Library& library)
{
    Documented result;
    for (UINT index : library.classes()) {
        Ref<ITypeInfo> class_info;
        check(library.get()->GetTypeInfo(index, class_info.put()), "GetTypeInfo");
        const std::string class_name = name_of(class_info.get());
        Ref<ITypeInfo> default_interface;
        if (!Library::default_of(class_info.get(), default_interface))
            throw Failure{"class " + class_name + " has no default interface"};
        std::vector<Member> members;
        collect(library, vtable_view(default_interface), members);

        std::ostringstream text;
        text << "Default interface `" << name_of(default_interface.get()) << "`";
        std::vector<std::string> bases;
        for (const Member& member : members) {
            if (member.interface_name != name_of(default_interface.get()) &&
                std::find(bases.begin(), bases.end(), member.interface_name) == bases.end())
                bases.push_back(member.interface_name);
        }
        for (size_t base = 0; base < bases.size(); ++base)
            text << (base == 0 ? ", inheriting `" : "`, `") << bases[base] << (base + 1 == bases.size() ? "`" : "");
        text << ".\n\n";
        text << "| Member | Kind | DISPID | Arguments | Type | Interface | Description |\n";
        text << "|---|---|---|---|---|---|---|\n";
        for (const Member& member : members) {
            text << "| `" << member.name << "`" << (member.hidden ? " (hidden)" : "") << " | " << kind_text(member)
                 << " | " << dispid_text(member.id) << " | " << cell(member.arguments) << " | " << cell(member.type)
                 << " | " << member.interface_name << " | " << cell(member.help) << " |\n";
            result.members[class_name].push_back(member.name);
            if (member.help.empty())
                result.undocumented.push_back(class_name + "." + member.name);
        }
        result.sections.push_back(Section{"class " + class_name, text.str()});
    }
    for (UINT index : library.enums()) {
        Ref<ITypeInfo> info;
        check(library.get()->GetTypeInfo(index, info.put()), "GetTypeInfo");
        const std::string enum_name = name_of(info.get());
        const std::string help = help_of(info.get());
        if (help.empty())
            result.undocumented.push_back(enum_name);
        std::ostringstream text;
        text << cell(help) << "\n\n| Constant | Value |\n|---|---|\n";
        const TypeAttributes attributes(info.get());
        for (UINT variable = 0; variable < attributes->cVars; ++variable) {
            VARDESC* description = nullptr;
            check(info->GetVarDesc(variable, &description), "GetVarDesc");
            const MEMBERID id = description->memid;
            std::string value = "?";
            if (description->varkind == VAR_CONST && description->lpvarValue)
                value = default_value_text(*description->lpvarValue);
            info->ReleaseVarDesc(description);
            text << "| `" << name_of(info.get(), id) << "` | " << value << " |\n";
        }
        result.sections.push_back(Section{"enum " + enum_name, text.str()});
    }
    return result;
}

const std::string begin_marker = "<!-- typelib: ";
const std::string end_marker = "<!-- /typelib -->";

std::string marker_of(const Section& section)
{
    return begin_marker + section.name + " -->";
}

std::string read_file(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw Failure{"cannot read " + path};
    std::ostringstream text;
    text << file.rdbuf();
    std::string result = text.str();
    result.erase(std::remove(result.begin(), result.end(), '\r'), result.end());
    return result;
}

struct Found {
    std::string text;
    size_t begin = 0;  // where the text starts
    size_t end = 0;    // where the end marker starts
};

// The text between a section's markers in the reference; none when the
// markers are missing or unbalanced.
std::optional<Found> find_section(const std::string& reference, const Section& section)
{
    const std::string marker = marker_of(section) + "\n";
    const size_t start = reference.find(marker);
    if (start == std::string::npos)
        return std::nullopt;
    const size_t begin = start + marker.size();
    const size_t end = reference.find(end_marker, begin);
    if (end == std::string::npos || reference.find(begin_marker, begin) < end)
        return std::nullopt;
    return Found{reference.substr(begin, end - begin), begin, end};
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

// The first line where the reference and the library part ways.
std::string first_difference(const std::string& written, const std::string& generated)
{
    const std::vector<std::string> old_lines = lines_of(written), new_lines = lines_of(generated);
    for (size_t line = 0; line < std::max(old_lines.size(), new_lines.size()); ++line) {
        const std::string was = line < old_lines.size() ? old_lines[line] : "(nothing)";
        const std::string is = line < new_lines.size() ? new_lines[line] : "(nothing)";
        if (was != is)
            return "  line " + std::to_string(line + 1) + " of the part\n    reference: " + was +
                   "\n    library:   " + is + "\n";
    }
    return {};
}

// "### Class.Member" headings of the hand-written text: what the reference
// says exists.
std::set<std::string> member_headings(const std::string& reference)
{
    std::set<std::string> headings;
    static const std::regex heading(R"(^### `?([A-Za-z_][A-Za-z0-9_]*)\.([A-Za-z_][A-Za-z0-9_]*)`?\s*$)");
    for (const std::string& line : lines_of(reference)) {
        std::smatch match;
        if (std::regex_match(line, match, heading))
            headings.insert(match[1].str() + "." + match[2].str());
    }
    return headings;
}

struct CatalogueEntry {
    std::string number;  // 0x80040201, upper-case digits
    std::string message;
};

std::vector<CatalogueEntry> catalogue_entries(const std::string& path)
{
    std::vector<CatalogueEntry> entries;
    const std::string text = read_file(path);
    static const std::regex entry(R"re(error_number\(0x([0-9A-Fa-f]+)\)\s*,\s*source\s*,\s*L"((?:[^"\\]|\\.)*)")re");
    for (auto match = std::sregex_iterator(text.begin(), text.end(), entry); match != std::sregex_iterator(); ++match) {
        std::string digits = (*match)[1].str();
        std::transform(digits.begin(), digits.end(), digits.begin(), [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
        entries.push_back(CatalogueEntry{"0x" + digits, (*match)[2].str()});
    }
    if (entries.empty())
        throw Failure{"no error entries found in " + path};
    return entries;
}

// The error table: rows between "<!-- errors -->" and "<!-- /errors -->".
std::vector<std::string> error_rows(const std::string& reference)
{
    const size_t begin = reference.find("<!-- errors -->");
    const size_t end = reference.find("<!-- /errors -->");
    if (begin == std::string::npos || end == std::string::npos || end < begin)
        return {};
    return lines_of(reference.substr(begin, end - begin));
}

// Numbers in the table as written: 0x800403E8 and 0x800403e8 are one.
bool row_has(const std::string& row, const CatalogueEntry& entry)
{
    std::string upper = row;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    std::string number = entry.number;
    return upper.find(number.replace(0, 2, "0X")) != std::string::npos &&
           row.find(entry.message) != std::string::npos;
}

int check_reference(const Documented& documented, const std::string& reference_path,
                    const std::vector<std::string>& catalogues, const std::string& regenerate)
{
    const std::string reference = read_file(reference_path);
    std::string problems;
    bool generated_differs = false;
    for (const Section& section : documented.sections) {
        const auto found = find_section(reference, section);
        if (!found) {
            problems += "missing generated part \"" + marker_of(section) + "\" ... \"" + end_marker + "\"\n";
            generated_differs = true;
        } else if (found->text != section.text) {
            problems += "generated part \"" + section.name + "\" differs from the type library:\n" +
                        first_difference(found->text, section.text);
            generated_differs = true;
        }
    }
    // Parts the library no longer has.
    for (size_t at = reference.find(begin_marker); at != std::string::npos; at = reference.find(begin_marker, at + 1)) {
        const size_t close = reference.find(" -->", at);
        const std::string name = reference.substr(at + begin_marker.size(), close - at - begin_marker.size());
        if (std::none_of(documented.sections.begin(), documented.sections.end(),
                         [&](const Section& section) { return section.name == name; })) {
            problems += "generated part \"" + name + "\" names nothing in the type library\n";
            generated_differs = true;
        }
    }

    const std::set<std::string> headings = member_headings(reference);
    std::set<std::string> library_members;
    for (const auto& [class_name, names] : documented.members)
        for (const std::string& name : names)
            library_members.insert(class_name + "." + name);
    for (const std::string& member : library_members)
        if (!headings.count(member))
            problems += "member " + member + " of the type library has no \"### " + member + "\" section\n";
    for (const std::string& heading : headings)
        if (!library_members.count(heading))
            problems += "section \"### " + heading + "\" names a member the type library lacks\n";

    for (const std::string& name : documented.undocumented)
        problems += name + " has no helpstring in the IDL\n";

    const std::vector<std::string> rows = error_rows(reference);
    if (rows.empty())
        problems += "no error table between \"<!-- errors -->\" and \"<!-- /errors -->\"\n";
    for (const std::string& catalogue : catalogues) {
        for (const CatalogueEntry& entry : catalogue_entries(catalogue)) {
            if (std::none_of(rows.begin(), rows.end(), [&](const std::string& row) { return row_has(row, entry); }))
                problems += "error " + entry.number + " \"" + entry.message + "\" of " + catalogue +
                            " is not in the error table\n";
        }
    }

    if (problems.empty()) {
        std::printf("%s matches the type library and the error catalogues\n", reference_path.c_str());
        return 0;
    }
    std::printf("%s", problems.c_str());
    if (generated_differs)
        std::printf("regenerate the generated parts with:\n  %s\n", regenerate.c_str());
    return 1;
}

int write_reference(const Documented& documented, const std::string& reference_path)
{
    std::string reference = read_file(reference_path);
    for (const Section& section : documented.sections) {
        if (const auto found = find_section(reference, section))
            reference.replace(found->begin, found->end - found->begin, section.text);
        else
            reference += "\n" + marker_of(section) + "\n" + section.text + end_marker + "\n";
    }
    std::ofstream file(reference_path, std::ios::binary | std::ios::trunc);
    file << reference;
    if (!file.flush())
        throw Failure{"cannot write " + reference_path};
    std::printf("%s: %zu generated parts written\n", reference_path.c_str(), documented.sections.size());
    return 0;
}

int usage()
{
    std::fprintf(stderr,
                 "usage: typelib_doc LIBRARY\n"
                 "       typelib_doc LIBRARY --write REFERENCE\n"
                 "       typelib_doc LIBRARY --check REFERENCE CATALOGUE...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    // The output is compared byte for byte: no CR added to line ends.
    _setmode(_fileno(stdout), _O_BINARY);
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty())
        return usage();
    try {
        check(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), "CoInitializeEx");
        int status = 0;
        {
            const Library library(arguments[0]);
            const Documented documented = document(library);
            if (arguments.size() == 1) {
                for (const Section& section : documented.sections)
                    std::printf("%s\n%s%s\n\n", marker_of(section).c_str(), section.text.c_str(), end_marker.c_str());
            } else if (arguments.size() == 3 && arguments[1] == "--write") {
                status = write_reference(documented, arguments[2]);
            } else if (arguments.size() >= 3 && arguments[1] == "--check") {
                const std::vector<std::string> catalogues(arguments.begin() + 3, arguments.end());
                status = check_reference(documented, arguments[2], catalogues,
                                         "tools/typelib_doc/regenerate.sh [BUILD_DIR, build/x64 unless given]");
            } else {
                status = usage();
            }
        }
        CoUninitialize();
        return status;
    } catch (const Failure& failure) {
        std::fprintf(stderr, "typelib_doc: %s\n", failure.what.c_str());
        return 2;
    } catch (const std::exception& exception) {
        std::fprintf(stderr, "typelib_doc: %s\n", exception.what());
        return 2;
    }
}
