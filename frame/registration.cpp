#include "frame/registration.h"

#include "frame/class_table.h"
#include "frame/com_ptr.h"
#include "frame/error.h"
#include "frame/handles.h"
#include "frame/type_library.h"

#include <array>
#include <cwchar>
#include <iterator>
#include <string>
#include <utility>

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

std::wstring type_library_platform_key(const LibraryVersion& version, const wchar_t* syskind_name)
{
    wchar_t numbers[48];
    std::swprintf(numbers, std::size(numbers), L"\\%x.%x\\%lx\\", version.major, version.minor,
                  static_cast<unsigned long>(version.locale));
    return L"TypeLib\\" + guid_text(version.id) + numbers + syskind_name;
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
        unregister_type_library(version_of(&embedded_type_library()));
        unregister_classes(classes);
        return S_OK;
    } catch (...) {
        return hresult_of_current_exception();
    }
}

}  // namespace corvane
