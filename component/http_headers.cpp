#include "component/http_headers.h"

#include "frame/error.h"
#include "frame/text.h"

#include <climits>

namespace corvane {

void HTTPHeaders::add(std::wstring name, std::wstring value)
{
    // Count answers a Long.
    if (entries_.size() >= static_cast<size_t>(LONG_MAX))
        raise_runtime_error(RuntimeError::overflow);
    const std::wstring key = name;
    entries_.add(HTTPHeader::from_line(std::move(name), std::move(value)), key);
}

HRESULT HTTPHeaders::Count(LONG* result)
{
    return member(result, [&] { *result = static_cast<LONG>(entries_.size()); });
}

HRESULT HTTPHeaders::Item(VARIANT index, BSTR* result)
{
    return member(result, [&] { *result = allocate_bstr(entries_.find(index).value()); });
}

HRESULT HTTPHeaders::NewEnum(IUnknown** result)
{
    return member(result, [&] { *result = entries_.enumerator().detach(); });
}

}  // namespace corvane
