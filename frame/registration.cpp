#include "frame/registration.h"

#include "frame/class_table.h"
#include "frame/com_ptr.h"
#include "frame/error.h"
#include "frame/handles.h"
#include "frame/type_library.h"

#include <algorithm>
#include <array>
#include <cwchar>
#include <cwctype>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane {

namespace {

constexpr REGSAM this_view = 0;
#ifdef _WIN64
constexpr REGSAM other_view = KEY_WOW64_32KEY;
constexpr SYSKIND this_syskind = SYS_WIN64;
constexpr const wchar_t* this_syskind_name = L"win64";
constexpr const wchar_t* other_syskind_name = L"win32";
#else
constexpr REGSAM other_view = KEY_WOW64_64KEY;
constexpr SYSKIND this_syskind = SYS_WIN32;
constexpr const wchar_t* this_syskind_name = L"win32";
constexpr const wchar_t* other_syskind_name = L"win64";
#endif

void check_registry(LSTATUS status)
{
    if (status != ERROR_SUCCESS)
        check_com(HRESULT_FROM_WIN32(status));
}

std::wstring guid_text(REFGUID guid)
{
    std::array<wchar_t, 40> text{};
    StringFromGUID2(guid, text.data(), static_cast<int>(text.size()));
    return text.data();
}

void set_value(const std::wstring& key_path, const wchar_t* value_name, const std::wstring& value)
{
    RegistryKey key;
    check_registry(RegCreateKeyExW(HKEY_CLASSES_ROOT, key_path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_WRITE | this_view, nullptr, key.put(), nullptr));
    check_registry(RegSetValueExW(key.get(), value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                  static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
}

bool key_exists(const std::wstring& key_path, REGSAM view)
{
    RegistryKey key;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, key_path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

void delete_tree(const std::wstring& key_path)
{
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key_path.c_str());
    if (status != ERROR_FILE_NOT_FOUND)
        check_registry(status);
}

// Names of a key's subkeys; none when it does not exist.
std::vector<std::wstring> subkeys_of(const std::wstring& key_path)
{
    std::vector<std::wstring> names;
    RegistryKey key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key_path.c_str(), 0, KEY_READ | this_view, key.put()) != ERROR_SUCCESS)
        return names;
    std::array<wchar_t, 256> name{};  // the longest key name the registry allows, and its NUL
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        const LSTATUS status = RegEnumKeyExW(key.get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        check_registry(status);
        names.emplace_back(name.data(), length);
    }
    return names;
}

void delete_if_empty(const std::wstring& key_path)
{
    if (key_exists(key_path, this_view) && subkeys_of(key_path).empty())
        RegDeleteKeyW(HKEY_CLASSES_ROOT, key_path.c_str());
}

std::wstring class_key(const ComponentClass& component_class)
{
    return L"CLSID\\" + guid_text(component_class.class_id);
}

struct LibraryVersion {
    GUID id;
    WORD major;
    WORD minor;
    LCID locale;
};

LibraryVersion version_of(ITypeLib* library)
{
    TLIBATTR* attributes = nullptr;
    check_com(library->GetLibAttr(&attributes));
    const LibraryVersion version{attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                                 attributes->lcid};
    library->ReleaseTLibAttr(attributes);
    return version;
}

std::wstring type_library_key(const GUID& library_id)
{
    return L"TypeLib\\" + guid_text(library_id);
}

// As RegisterTypeLib names it: hexadecimal numbers.
std::wstring version_name(WORD major, WORD minor)
{
    wchar_t numbers[16];
    std::swprintf(numbers, std::size(numbers), L"%x.%x", major, minor);
    return numbers;
}

std::wstring type_library_platform_key(const LibraryVersion& version, const wchar_t* syskind_name)
{
    wchar_t locale[16];
    std::swprintf(locale, std::size(locale), L"%lx", static_cast<unsigned long>(version.locale));
    return type_library_key(version.id) + L"\\" + version_name(version.major, version.minor) + L"\\" + locale +
           L"\\" + syskind_name;
}

bool is_hexadecimal(std::wstring_view text)
{
    return !text.empty() && text.size() <= 8 &&
           std::all_of(text.begin(), text.end(), [](wchar_t character) { return std::iswxdigit(character) != 0; });
}

// "major.minor" in hexadecimal, as a version key is named; anything else
// under the library's key is none.
std::optional<std::pair<WORD, WORD>> parse_version_name(const std::wstring& name)
{
    const size_t dot = name.find(L'.');
    if (dot == std::wstring::npos)
        return std::nullopt;
    const std::wstring major_text = name.substr(0, dot);
    const std::wstring minor_text = name.substr(dot + 1);
    if (!is_hexadecimal(major_text) || !is_hexadecimal(minor_text))
        return std::nullopt;
    const unsigned long major = std::wcstoul(major_text.c_str(), nullptr, 16);
    const unsigned long minor = std::wcstoul(minor_text.c_str(), nullptr, 16);
    if (major > 0xffff || minor > 0xffff)
        return std::nullopt;
    return std::pair{static_cast<WORD>(major), static_cast<WORD>(minor)};
}

std::wstring registry_text(HKEY key, const wchar_t* value_name)
{
    std::array<wchar_t, 64> text{};
    DWORD type = 0;
    DWORD size = static_cast<DWORD>((text.size() - 1) * sizeof(wchar_t));
    if (RegQueryValueExW(key, value_name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    return text.data();
}

// Interface keys in either registry view that still name an earlier
// version of the library; each interface an earlier version had is one
// the current one has, since published interfaces are never removed.
void unregister_interfaces_of(ITypeLib* library, const GUID& library_id, const std::wstring& version)
{
    const std::wstring library_text = guid_text(library_id);
    for (UINT index = 0; index < library->GetTypeInfoCount(); ++index) {
        TYPEKIND kind{};
        ComPtr<ITypeInfo> info;
        TYPEATTR* attributes = nullptr;
        if (FAILED(library->GetTypeInfoType(index, &kind)) || (kind != TKIND_INTERFACE && kind != TKIND_DISPATCH) ||
            FAILED(library->GetTypeInfo(index, info.put())) || FAILED(info->GetTypeAttr(&attributes)))
            continue;
        const std::wstring interface_id = guid_text(attributes->guid);
        info->ReleaseTypeAttr(attributes);
        for (REGSAM view : {this_view, other_view}) {
            RegistryKey interfaces;
            if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Interface", 0, KEY_READ | KEY_WRITE | view, interfaces.put()) !=
                ERROR_SUCCESS)
                continue;
            RegistryKey named;
            const std::wstring type_library_subkey = interface_id + L"\\TypeLib";
            if (RegOpenKeyExW(interfaces.get(), type_library_subkey.c_str(), 0, KEY_READ, named.put()) !=
                ERROR_SUCCESS)
                continue;
            if (CompareStringOrdinal(registry_text(named.get(), nullptr).c_str(), -1, library_text.c_str(), -1,
                                     TRUE) != CSTR_EQUAL ||
                registry_text(named.get(), L"Version") != version)
                continue;
            named = RegistryKey();
            const LSTATUS status = RegDeleteTreeW(interfaces.get(), interface_id.c_str());
            if (status != ERROR_FILE_NOT_FOUND)
                check_registry(status);
        }
    }
}

// Earlier minor versions of the library registered for this syskind, as
// an upgrade in place leaves them: a client asking for such a version by
// number would get it, with interface keys naming it. Each goes as the
// current version does when it is unregistered: only this syskind's key
// while the other architecture's registration of it stays.
void unregister_earlier_versions(ITypeLib* library, const LibraryVersion& current)
{
    const std::wstring library_key = type_library_key(current.id);
    for (const std::wstring& name : subkeys_of(library_key)) {
        const auto version = parse_version_name(name);
        if (!version || version->first != current.major || version->second >= current.minor)
            continue;
        const std::wstring version_key = library_key + L"\\" + name;
        bool still_registered = false;
        for (const std::wstring& locale : subkeys_of(version_key)) {
            if (!is_hexadecimal(locale))
                continue;  // FLAGS, HELPDIR
            const std::wstring locale_key = version_key + L"\\" + locale;
            if (key_exists(locale_key + L"\\" + this_syskind_name, this_view))
                delete_tree(locale_key + L"\\" + this_syskind_name);
            if (!subkeys_of(locale_key).empty())
                still_registered = true;
        }
        if (still_registered)
            continue;
        unregister_interfaces_of(library, current.id, name);
        delete_tree(version_key);
    }
    delete_if_empty(library_key);
}

void register_classes(std::span<const ComponentClass> classes, const GUID& library_id)
{
    const std::wstring path = module_path();
    for (const ComponentClass& component_class : classes) {
        const std::wstring name = component_class.prog_id;
        const std::wstring key = class_key(component_class);
        set_value(key, nullptr, name);
        set_value(key + L"\\InprocServer32", nullptr, path);
        set_value(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
        set_value(key + L"\\ProgID", nullptr, name);
        set_value(key + L"\\TypeLib", nullptr, guid_text(library_id));
        set_value(name, nullptr, name);
        set_value(name + L"\\CLSID", nullptr, guid_text(component_class.class_id));
    }
}

void register_type_library(ITypeLib* library)
{
    unregister_earlier_versions(library, version_of(library));
    const std::wstring path = module_path();
    check_com(RegisterTypeLib(library, const_cast<LPOLESTR>(path.c_str()), nullptr));
}

// The x86 and x64 builds share class ids, ProgIDs and, where the system
// shares them between its two registry views, the type library and
// interface keys. What both registrations wrote goes with the last one.
void unregister_type_library(const LibraryVersion& version)
{
    if (!key_exists(type_library_platform_key(version, this_syskind_name), this_view))
        return;
    if (key_exists(type_library_platform_key(version, other_syskind_name), this_view)) {
        delete_tree(type_library_platform_key(version, this_syskind_name));
        return;
    }
    check_com(UnRegisterTypeLib(version.id, version.major, version.minor, version.locale, this_syskind));
}

void unregister_classes(std::span<const ComponentClass> classes)
{
    for (const ComponentClass& component_class : classes) {
        const std::wstring key = class_key(component_class);
        delete_tree(key);
        if (!key_exists(key + L"\\InprocServer32", other_view))
            delete_tree(component_class.prog_id);
    }
}

}  // namespace

HRESULT register_server(std::span<const ComponentClass> classes)
{
    try {
        ITypeLib& library = embedded_type_library();
        register_classes(classes, version_of(&library).id);
        register_type_library(&library);
        return S_OK;
    } catch (...) {
        const HRESULT result = hresult_of_current_exception();
        unregister_server(classes);
        return result;
    }
}

HRESULT unregister_server(std::span<const ComponentClass> classes)
{
    try {
        ITypeLib& library = embedded_type_library();
        const LibraryVersion version = version_of(&library);
        unregister_earlier_versions(&library, version);
        unregister_type_library(version);
        delete_if_empty(type_library_key(version.id));
        unregister_classes(classes);
        return S_OK;
    } catch (...) {
        return hresult_of_current_exception();
    }
}

}  // namespace corvane
