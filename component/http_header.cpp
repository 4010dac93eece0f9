#include "component/http_header.h"

#include "frame/text.h"

namespace corvane {

ComPtr<HTTPHeader> HTTPHeader::from_line(std::wstring name, std::wstring value)
{
    auto entry = make_object<HTTPHeader>();
    entry->id_ = name;
    entry->id_assigned_ = true;
    entry->name_ = std::move(name);
    entry->value_ = std::move(value);
    return entry;
}

HRESULT HTTPHeader::get_ID(BSTR* result)
{
    return member(result, [&] { *result = allocate_bstr(id_); });
}

HRESULT HTTPHeader::put_ID(BSTR id)
{
    return member([&] {
        if (id_assigned_)
            return;
        id_ = Bstr::view_of(id);
        id_assigned_ = true;
    });
}

HRESULT HTTPHeader::get_Name(BSTR* result)
{
    return member(result, [&] { *result = allocate_bstr(name_); });
}

HRESULT HTTPHeader::put_Name(BSTR name)
{
    return member([&] { name_ = Bstr::view_of(name); });
}

HRESULT HTTPHeader::get_Value(BSTR* result)
{
    return member(result, [&] { *result = allocate_bstr(value_); });
}

HRESULT HTTPHeader::put_Value(BSTR value)
{
    return member([&] { value_ = Bstr::view_of(value); });
}

}  // namespace corvane
