#include "frame/type_library.h"

#include "frame/error.h"

#include <vector>

namespace corvane {

HMODULE this_module()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&this_module), &module);
    return module;
}

std::wstring module_path()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(this_module(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            check_com(HRESULT_FROM_WIN32(GetLastError()));
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

ITypeLib& embedded_type_library()
{
    static const ComPtr<ITypeLib> library = [] {
        ComPtr<ITypeLib> loaded;
        check_com(LoadTypeLibEx(module_path().c_str(), REGKIND_NONE, loaded.put()));
        return loaded;
    }();
    return *library.get();
}

ComPtr<ITypeInfo> interface_type_info(REFIID interface_id)
{
    ComPtr<ITypeInfo> info;
    check_com(embedded_type_library().GetTypeInfoOfGuid(interface_id, info.put()));
    return info;
}

}  // namespace corvane
