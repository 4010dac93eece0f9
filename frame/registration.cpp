#include "frame/registration.h"

#include "frame/classes.h"
#include "frame/com_ptr.h"
#include "frame/error.h"
#include "frame/interfaces.h"
#include "frame/module.h"

#include <array>
#include <string>
#include <utility>

namespace corvane {

namespace {

class RegistryKey {
public:
    RegistryKey() = default;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey()
    {
        if (key_)
            RegCloseKey(key_);
    }
    HKEY get() const { return key_; }
    HKEY* put() { return &key_; }

private:
    HKEY key_ = nullptr;
};

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
constexpr LCID library_locale = 1033;

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

std::wstring prog_id(const ComponentClass& component_class)
{
    return std::wstring(L"corvane.") + component_class.name;
}

std::wstring class_key(const ComponentClass& component_class)
{
    return L"CLSID\\" + guid_text(component_class.class_id);
}

std::wstring type_library_version_key()
{
    return L"TypeLib\\" + guid_text(LIBID_corvane) + L"\\1.0";
}

std::wstring type_library_platform_key(const wchar_t* syskind_name)
{
    return type_library_version_key() + L"\\409\\" + syskind_name;
}

void register_classes()
{
    const std::wstring path = module_path();
    for (const ComponentClass& component_class : component_classes()) {
        const std::wstring name = prog_id(component_class);
        const std::wstring key = class_key(component_class);
        set_value(key, nullptr, name);
        set_value(key + L"\\InprocServer32", nullptr, path);
        set_value(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
        set_value(key + L"\\ProgID", nullptr, name);
        set_value(key + L"\\TypeLib", nullptr, guid_text(LIBID_corvane));
        set_value(name, nullptr, name);
        set_value(name + L"\\CLSID", nullptr, guid_text(component_class.class_id));
    }
}

void register_type_library()
{
    const std::wstring path = module_path();
    ComPtr<ITypeLib> library;
    check_com(LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()));
    check_com(RegisterTypeLib(library.get(), const_cast<LPOLESTR>(path.c_str()), nullptr));
}

// The x86 and x64 builds share class ids, ProgIDs and, where the system
// shares them between its two registry views, the type library and
// interface keys. What both registrations wrote goes with the last one.
void unregister_type_library()
{
    if (!key_exists(type_library_platform_key(this_syskind_name), this_view))
        return;
    if (key_exists(type_library_platform_key(other_syskind_name), this_view)) {
        delete_tree(type_library_platform_key(this_syskind_name));
        return;
    }
    check_com(UnRegisterTypeLib(LIBID_corvane, 1, 0, library_locale, this_syskind));
}

void unregister_classes()
{
    for (const ComponentClass& component_class : component_classes()) {
        const std::wstring key = class_key(component_class);
        delete_tree(key);
        if (!key_exists(key + L"\\InprocServer32", other_view))
            delete_tree(prog_id(component_class));
    }
}

}  // namespace

HRESULT register_server()
{
    try {
        register_classes();
        register_type_library();
        return S_OK;
    } catch (const ComponentError& error) {
        unregister_server();
        return error.number();
    } catch (...) {
        unregister_server();
        return E_UNEXPECTED;
    }
}

HRESULT unregister_server()
{
    try {
        unregister_type_library();
        unregister_classes();
        return S_OK;
    } catch (const ComponentError& error) {
        return error.number();
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace corvane
