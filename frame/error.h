#pragma once
// One error type for the whole component. Members throw it; only the COM
// boundary turns it into an HRESULT plus error info, so members can call
// one another and an inner error reaches the script unchanged.

#include "frame/error_code.h"
#include "frame/win32.h"

#include <exception>
#include <string>
#include <string_view>

namespace corvane {

class ComponentError : public std::exception {
public:
    ComponentError(HRESULT number, std::wstring source, std::wstring description)
        : number_(number), source_(std::move(source)), description_(std::move(description))
    {
    }

    HRESULT number() const { return number_; }
    const std::wstring& source() const { return source_; }
    const std::wstring& description() const { return description_; }
    const char* what() const noexcept override { return "corvane component error"; }

private:
    HRESULT number_;
    std::wstring source_;
    std::wstring description_;
};

// The catalogue entry's number and source, its message as the description.
[[noreturn]] void raise(const ErrorCode& error);

// The same number and source with a description of the caller's making.
[[noreturn]] void raise(const ErrorCode& error, std::wstring description);

// A failed automation library call (VariantChangeType and the like): the
// number alone, so that the caller shows its own text for it.
inline void check_com(HRESULT result)
{
    if (FAILED(result))
        throw ComponentError(result, {}, {});
}

// A failed call on another COM object (the page objects and the like):
// passes the callee's own error info on unchanged when it offers one.
[[noreturn]] void raise_call_failure(HRESULT result, IUnknown* callee, REFIID interface_id);

inline void check_call(HRESULT result, IUnknown* callee, REFIID interface_id)
{
    if (FAILED(result))
        raise_call_failure(result, callee, interface_id);
}

// The automation runtime's own errors, as a script sees them from any
// automation object.
[[noreturn]] void raise_runtime_error(RuntimeError error);

// The HRESULT for the exception in flight: what every entry point that is
// no member (class objects, registration, type information) returns.
HRESULT hresult_of_current_exception() noexcept;

// The same at a member's boundary, with the error info a script reads,
// tagged with the interface the member belongs to.
HRESULT report_failure(REFIID interface_id) noexcept;

// COM boundary: runs a member body and reports any failure to the caller.
template <class Body>
HRESULT run_member(REFIID interface_id, Body&& body) noexcept
{
    try {
        body();
        return S_OK;
    } catch (...) {
        return report_failure(interface_id);
    }
}

}  // namespace corvane
