#include "tools/asp_host/test_page.h"

#include "frame/error.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace corvane::asp_host {

namespace {

class Library {
public:
    explicit Library(std::wstring path)
    {
        std::replace(path.begin(), path.end(), L'/', L'\\');
        module_ = LoadLibraryW(path.c_str());
        if (!module_)
            check_com(HRESULT_FROM_WIN32(GetLastError()));
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    ~Library() { FreeLibrary(module_); }
    HMODULE get() const { return module_; }

private:
    HMODULE module_ = nullptr;
};

// Loaded on first use and kept until the program ends.
HMODULE host_module()
{
    static const Library library(L"Z:" ASP_TEST_HOST_DLL);
    return library.get();
}

std::vector<std::wstring> split_lines(const Bstr& text)
{
    std::vector<std::wstring> lines;
    std::wstring_view rest = text.view();
    while (!rest.empty()) {
        const size_t end = rest.find(L"\r\n");
        lines.emplace_back(rest.substr(0, end));
        rest = end == std::wstring_view::npos ? std::wstring_view() : rest.substr(end + 2);
    }
    return lines;
}

}  // namespace

ComPtr<IAspTestPage> new_page()
{
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto get_class_object =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(host_module(), "DllGetClassObject")));
    if (!get_class_object)
        check_com(HRESULT_FROM_WIN32(GetLastError()));
    ComPtr<IClassFactory> factory;
    check_com(get_class_object(__uuidof(AspTestPage), IID_IClassFactory, reinterpret_cast<void**>(factory.put())));
    ComPtr<IAspTestPage> page;
    check_com(factory->CreateInstance(nullptr, __uuidof(IAspTestPage), reinterpret_cast<void**>(page.put())));
    return page;
}

ComPtr<IDispatch> context_of(IAspTestPage* page)
{
    ComPtr<IDispatch> context;
    check_com(page->get_Context(context.put()));
    return context;
}

std::vector<std::wstring> calls_of(IAspTestPage* page)
{
    Bstr text;
    check_com(page->get_Calls(text.put()));
    return split_lines(text);
}

std::vector<std::wstring> headers_of(IAspTestPage* page)
{
    Bstr text;
    check_com(page->get_Headers(text.put()));
    return split_lines(text);
}

std::wstring body_of(IAspTestPage* page)
{
    Bstr text;
    check_com(page->get_Body(text.put()));
    return std::wstring(text.view());
}

std::string body_bytes_of(IAspTestPage* page)
{
    Variant bytes;
    check_com(page->get_BodyBytes(bytes.put()));
    if (V_VT(bytes.get()) != (VT_ARRAY | VT_UI1))
        check_com(DISP_E_TYPEMISMATCH);
    SAFEARRAY* array = V_ARRAY(bytes.get());
    std::string result(array->rgsabound[0].cElements, '\0');
    if (!result.empty())
        std::memcpy(result.data(), array->pvData, result.size());
    return result;
}

}  // namespace corvane::asp_host
