// The DLL's exports: one creatable class, registered like any in-process
// automation server so that scripts create it by ProgID.

#include "tools/asp_host/page_objects.h"

#include "frame/module.h"

#include <array>
#include <cwchar>
#include <iterator>
#include <new>
#include <string>

namespace corvane::asp_host {

namespace {

constexpr wchar_t prog_id[] = L"AspTestHost.Page";

class PageFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interface_id, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (interface_id == IID_IUnknown || interface_id == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG remaining = InterlockedDecrement(&references_);
        if (remaining == 0)
            delete this;
        return static_cast<ULONG>(remaining);
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID interface_id, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        try {
            return Page::create()->QueryInterface(interface_id, object);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_UNEXPECTED;
        }
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    ~PageFactory() = default;

    LONG references_ = 1;
};

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
                                   KEY_WRITE, nullptr, key.put(), nullptr));
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

std::wstring class_key()
{
    return L"CLSID\\" + guid_text(__uuidof(AspTestPage));
}

ComPtr<ITypeLib> own_library()
{
    ComPtr<ITypeLib> library;
    check_com(LoadTypeLibEx(module_path().c_str(), REGKIND_NONE, library.put()));
    return library;
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

std::wstring platform_key(const LibraryVersion& version, const wchar_t* syskind_name)
{
    wchar_t numbers[48];
    std::swprintf(numbers, std::size(numbers), L"\\%x.%x\\%lx\\", version.major, version.minor,
                  static_cast<unsigned long>(version.locale));
    return L"TypeLib\\" + guid_text(version.id) + numbers + syskind_name;
}

void register_server()
{
    const std::wstring path = module_path();
    const ComPtr<ITypeLib> library = own_library();
    const std::wstring key = class_key();
    set_value(key, nullptr, prog_id);
    set_value(key + L"\\InprocServer32", nullptr, path);
    set_value(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    set_value(key + L"\\ProgID", nullptr, prog_id);
    set_value(key + L"\\TypeLib", nullptr, guid_text(version_of(library.get()).id));
    set_value(prog_id, nullptr, prog_id);
    set_value(std::wstring(prog_id) + L"\\CLSID", nullptr, guid_text(__uuidof(AspTestPage)));
    check_com(RegisterTypeLib(library.get(), const_cast<LPOLESTR>(path.c_str()), nullptr));
}

// The two architectures share the ProgID and the type library keys: what
// both registrations wrote goes with the last one.
void unregister_server()
{
    const LibraryVersion version = version_of(own_library().get());
    if (key_exists(platform_key(version, this_syskind_name), 0)) {
        if (key_exists(platform_key(version, other_syskind_name), 0))
            delete_tree(platform_key(version, this_syskind_name));
        else
            check_com(UnRegisterTypeLib(version.id, version.major, version.minor, version.locale, this_syskind));
    }
    delete_tree(class_key());
    if (!key_exists(class_key() + L"\\InprocServer32", other_view))
        delete_tree(prog_id);
}

template <class Body>
HRESULT outcome_of(Body&& body) noexcept
{
    try {
        body();
        return S_OK;
    } catch (const ComponentError& error) {
        return error.number();
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace

}  // namespace corvane::asp_host

extern "C" {

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID class_id, REFIID interface_id, void** object)
{
    using namespace corvane::asp_host;
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (class_id != __uuidof(AspTestPage))
        return CLASS_E_CLASSNOTAVAILABLE;
    auto factory = corvane::ComPtr<IClassFactory>::adopt(new (std::nothrow) PageFactory);
    if (!factory)
        return E_OUTOFMEMORY;
    return factory->QueryInterface(interface_id, object);
}

// Tests hold on to objects across the whole run; the module stays.
HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return S_FALSE;
}

HRESULT STDAPICALLTYPE DllRegisterServer()
{
    using namespace corvane::asp_host;
    const HRESULT result = outcome_of(register_server);
    if (FAILED(result))
        outcome_of(unregister_server);
    return result;
}

HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    return corvane::asp_host::outcome_of(corvane::asp_host::unregister_server);
}

}  // extern "C"
