#include "frame/error.h"

#include "frame/com_ptr.h"

#include <new>

namespace corvane {

void raise(HRESULT number, std::wstring_view source, std::wstring description)
{
    throw ComponentError(number, std::wstring(source), std::move(description));
}

void raise_call_failure(HRESULT result, IUnknown* callee, REFIID interface_id)
{
    std::wstring source;
    std::wstring description;
    ComPtr<IErrorInfo> info;
    // Error info on the thread belongs to this failure only if the callee
    // says it reports through it; otherwise it may be left from earlier.
    auto supports = ComPtr<IUnknown>::share(callee).query<ISupportErrorInfo>();
    if (supports && supports->InterfaceSupportsErrorInfo(interface_id) == S_OK &&
        GetErrorInfo(0, info.put()) == S_OK && info) {
        Bstr text;
        if (SUCCEEDED(info->GetSource(text.put())))
            source = text.view();
        if (SUCCEEDED(info->GetDescription(text.put())))
            description = text.view();
    }
    throw ComponentError(result, std::move(source), std::move(description));
}

void raise_runtime_error(int runtime_number)
{
    std::wstring description;
    switch (runtime_number) {
    case 5: description = L"Invalid procedure call or argument"; break;
    case 6: description = L"Overflow"; break;
    case 9: description = L"Subscript out of range"; break;
    case 13: description = L"Type mismatch"; break;
    case 94: description = L"Invalid use of Null"; break;
    case 457: description = L"This key is already associated with an element of this collection"; break;
    default: description = L"Application-defined or object-defined error"; break;
    }
    throw ComponentError(MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, runtime_number), L"corvane",
                         std::move(description));
}

namespace {

HRESULT set_error_info(REFIID interface_id, const ComponentError& error)
{
    // Without source and description the caller's own text for the number
    // is better than an empty one.
    if (error.source().empty() && error.description().empty()) {
        SetErrorInfo(0, nullptr);
        return error.number();
    }
    ComPtr<ICreateErrorInfo> creator;
    if (FAILED(CreateErrorInfo(creator.put())))
        return error.number();
    creator->SetGUID(interface_id);
    creator->SetSource(const_cast<LPOLESTR>(error.source().c_str()));
    creator->SetDescription(const_cast<LPOLESTR>(error.description().c_str()));
    creator->SetHelpFile(nullptr);
    creator->SetHelpContext(0);
    if (auto info = creator.query<IErrorInfo>())
        SetErrorInfo(0, info.get());
    return error.number();
}

}  // namespace

HRESULT report_failure(REFIID interface_id) noexcept
{
    try {
        throw;
    } catch (const ComponentError& error) {
        return set_error_info(interface_id, error);
    } catch (const std::bad_alloc&) {
        SetErrorInfo(0, nullptr);
        return E_OUTOFMEMORY;
    } catch (...) {
        SetErrorInfo(0, nullptr);
        return E_UNEXPECTED;
    }
}

}  // namespace corvane
