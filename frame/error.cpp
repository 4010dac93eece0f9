#include "frame/error.h"

#include "frame/com_ptr.h"

#include <new>

namespace corvane {

void raise(const ErrorCode& error)
{
    throw ComponentError(error.number, std::wstring(error.source), std::wstring(error.message));
}

void raise(const ErrorCode& error, std::wstring description)
{
    throw ComponentError(error.number, std::wstring(error.source), std::move(description));
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

void raise_runtime_error(RuntimeError error)
{
    std::wstring description;
    switch (error) {
    case RuntimeError::invalid_argument: description = L"Invalid procedure call or argument"; break;
    case RuntimeError::overflow: description = L"Overflow"; break;
    case RuntimeError::subscript_out_of_range: description = L"Subscript out of range"; break;
    case RuntimeError::type_mismatch: description = L"Type mismatch"; break;
    }
    throw ComponentError(runtime_error_number(error), L"corvane", std::move(description));
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

HRESULT hresult_of_current_exception() noexcept
{
    try {
        throw;
    } catch (const ComponentError& error) {
        return error.number();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT report_failure(REFIID interface_id) noexcept
{
    try {
        throw;
    } catch (const ComponentError& error) {
        return set_error_info(interface_id, error);
    } catch (...) {
        SetErrorInfo(0, nullptr);
        return hresult_of_current_exception();
    }
}

}  // namespace corvane
