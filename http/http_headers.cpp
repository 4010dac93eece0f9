#include "http/http_headers.h"

#include "frame/error.h"
#include "frame/late_bound.h"
#include "frame/text.h"

#include <climits>

namespace corvane {

ComPtr<IUnknown> HTTPHeaders::create()
{
    return ComPtr<IUnknown>::adopt(static_cast<_HTTPHeaders*>(make_object<HTTPHeaders>().detach()));
}

void HTTPHeaders::AddHeader(std::wstring name, std::wstring value)
{
    constexpr int runtime_overflow = 6;
    if (entries.size() >= static_cast<size_t>(LONG_MAX))
        raise_runtime_error(runtime_overflow);
    const std::wstring key = name;
    ComPtr<HTTPHeader> entry = HTTPHeader::from_line(std::move(name), std::move(value));
    entries.add(ComPtr<IDispatch>::share(static_cast<_HTTPHeader*>(entry.get())), key);
}

HRESULT HTTPHeaders::Count(LONG* result)
{
    return member([&] { *result = static_cast<LONG>(entries.size()); });
}

HRESULT HTTPHeaders::Item(VARIANT var_idx, BSTR* result)
{
    return member([&] {
        // The entry's Value, asked for by name as for any entry object.
        const ComPtr<IDispatch>& entry = entries.find(var_idx);
        Variant value = get_property(entry.get(), L"Value");
        *result = allocate_bstr(text_of(*value.get()));
    });
}

HRESULT HTTPHeaders::NewEnum(IUnknown** result)
{
    return member([&] { *result = entries.enumerator().detach(); });
}

}  // namespace corvane
