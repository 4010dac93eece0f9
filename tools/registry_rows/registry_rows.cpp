// Prints the registry values a COM DLL's DllRegisterServer writes, without
// writing them: the predefined roots are redirected into a scratch key for
// the call, so the installer's tables can be generated from the DLL's own
// registration. Writes to the other registry view may escape the
// redirection (Wine: a 64-bit RegisterTypeLib's interface keys in the 32-bit
// view); such keys, new since the call began and written into the scratch
// key as well, are taken away again.
// One line per value of the classes root, tab-separated, UTF-8:
//   HKCR\<key path> TAB <value name, @ for the default> TAB <text>
//   registry_rows <dll>
#include <windows.h>

#include <cstdio>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

namespace {

struct Redirect {
    HKEY root;
    const wchar_t* name;
    HKEY scratch = nullptr;
};

std::string utf8(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    return bytes;
}

// A tab or line break would split a row: the DLL's registration has none.
bool printable(const std::wstring& text)
{
    for (wchar_t character : text)
        if (character < 0x20)
            return false;
    return true;
}

bool print_key(HKEY key, const std::wstring& path)
{
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data(65536);
    for (DWORD index = 0;; ++index) {
        DWORD name_length = static_cast<DWORD>(name.size());
        DWORD data_size = static_cast<DWORD>(data.size() - sizeof(wchar_t));
        DWORD type = 0;
        const LSTATUS status =
            RegEnumValueW(key, index, name.data(), &name_length, nullptr, &type, data.data(), &data_size);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        const std::wstring value_name(name.data(), name_length);
        if (status != ERROR_SUCCESS || type != REG_SZ) {
            std::fprintf(stderr, "registry_rows: %s value \"%s\" is not a string\n", utf8(path).c_str(),
                         utf8(value_name).c_str());
            return false;
        }
        std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data_size / sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0')
            text.pop_back();
        if (!printable(path) || !printable(value_name) || !printable(text) || value_name == L"@") {
            std::fprintf(stderr, "registry_rows: %s holds a name or text no row can carry\n", utf8(path).c_str());
            return false;
        }
        std::printf("%s\t%s\t%s\n", utf8(path).c_str(), value_name.empty() ? "@" : utf8(value_name).c_str(),
                    utf8(text).c_str());
    }
    for (DWORD index = 0;; ++index) {
        DWORD name_length = static_cast<DWORD>(name.size());
        const LSTATUS status =
            RegEnumKeyExW(key, index, name.data(), &name_length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        HKEY subkey = nullptr;
        const std::wstring subkey_name(name.data(), name_length);
        if (status != ERROR_SUCCESS || RegOpenKeyExW(key, subkey_name.c_str(), 0, KEY_READ, &subkey) != ERROR_SUCCESS)
            return false;
        const bool printed = print_key(subkey, path + L"\\" + subkey_name);
        RegCloseKey(subkey);
        if (!printed)
            return false;
    }
    return true;
}

// Where registration writes, each key named with its view, in lower case.
using KeyNames = std::set<std::pair<REGSAM, std::wstring>>;

KeyNames class_keys(HKEY root, std::initializer_list<REGSAM> views)
{
    KeyNames names;
    std::vector<wchar_t> name(256);
    for (REGSAM view : views)
        for (const wchar_t* parent : {L"", L"CLSID", L"Interface", L"TypeLib"}) {
            HKEY key = nullptr;
            if (RegOpenKeyExW(root, parent, 0, KEY_READ | view, &key) != ERROR_SUCCESS)
                continue;
            for (DWORD index = 0;; ++index) {
                DWORD length = static_cast<DWORD>(name.size());
                if (RegEnumKeyExW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
                    ERROR_SUCCESS)
                    break;
                std::wstring path = std::wstring(parent) + L"\\" + std::wstring(name.data(), length);
                CharLowerBuffW(path.data(), static_cast<DWORD>(path.size()));
                names.emplace(view, path);
            }
            RegCloseKey(key);
        }
    return names;
}

// Only keys the redirected registration wrote as well: whatever else
// appeared meanwhile is another program's.
void remove_new_keys(const KeyNames& before, const KeyNames& captured)
{
    for (const auto& [view, path] : class_keys(HKEY_CLASSES_ROOT, {KEY_WOW64_32KEY, KEY_WOW64_64KEY})) {
        if (before.contains({view, path}) || !captured.contains({0, path}))
            continue;
        const size_t slash = path.find(L'\\');
        HKEY parent = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.substr(0, slash).c_str(), 0, KEY_ALL_ACCESS | view, &parent) !=
            ERROR_SUCCESS)
            continue;
        RegDeleteTreeW(parent, path.substr(slash + 1).c_str());
        RegCloseKey(parent);
        std::fprintf(stderr, "registry_rows: took away %s (%d-bit view), written past the redirection\n",
                     utf8(path).c_str(), view == KEY_WOW64_32KEY ? 32 : 64);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: registry_rows <dll>\n");
        return 2;
    }
    const std::wstring scratch_path = L"Software\\corvane-registry-rows-" + std::to_wstring(GetCurrentProcessId());
    HKEY scratch = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, scratch_path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &scratch, nullptr) != ERROR_SUCCESS) {
        std::fprintf(stderr, "registry_rows: no scratch key\n");
        return 1;
    }
    // Only the classes root is printed: the system itself writes to the
    // others while the DLL loads (Wine: the profile list).
    Redirect redirects[] = {{HKEY_CLASSES_ROOT, L"HKCR"},
                            {HKEY_LOCAL_MACHINE, L"HKLM"},
                            {HKEY_USERS, L"HKU"},
                            {HKEY_CURRENT_USER, L"HKCU"}};
    bool ready = true;
    for (Redirect& redirect : redirects)
        ready = ready && RegCreateKeyExW(scratch, redirect.name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                         nullptr, &redirect.scratch, nullptr) == ERROR_SUCCESS;
    HRESULT result = E_FAIL;
    const KeyNames before = class_keys(HKEY_CLASSES_ROOT, {KEY_WOW64_32KEY, KEY_WOW64_64KEY});
    if (ready) {
        for (Redirect& redirect : redirects)
            RegOverridePredefKey(redirect.root, redirect.scratch);
        if (HMODULE dll = LoadLibraryExW(argv[1], nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)) {
            using Register = HRESULT(STDAPICALLTYPE*)();
            if (auto entry = reinterpret_cast<Register>(
                    reinterpret_cast<void*>(GetProcAddress(dll, "DllRegisterServer"))))
                result = entry();
        }
        for (Redirect& redirect : redirects)
            RegOverridePredefKey(redirect.root, nullptr);
    }
    remove_new_keys(before, ready ? class_keys(redirects[0].scratch, {0}) : KeyNames{});
    bool printed = SUCCEEDED(result);
    if (!printed)
        std::fprintf(stderr, "registry_rows: DllRegisterServer failed (0x%08lx)\n", static_cast<unsigned long>(result));
    if (printed)
        printed = print_key(redirects[0].scratch, redirects[0].name);
    for (Redirect& redirect : redirects)
        if (redirect.scratch)
            RegCloseKey(redirect.scratch);
    RegCloseKey(scratch);
    RegDeleteTreeW(HKEY_CURRENT_USER, scratch_path.c_str());
    return printed ? 0 : 1;
}
