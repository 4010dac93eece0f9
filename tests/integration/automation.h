#pragma once
// Late-bound calls by name, as a script makes them: objects created from
// their ProgID, members found by name, failures seen as number, source and
// description. Written apart from the component's own helpers so that the
// tests do not lean on the code they test.

#include <oaidl.h>
#include <objbase.h>
#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvane::integration {

// An automation error as a script's Err object shows it.
struct ScriptError : std::runtime_error {
    ScriptError(HRESULT number_, std::wstring source_, std::wstring description_);
    HRESULT number;
    std::wstring source;
    std::wstring description;
};

// A VARIANT value owned by the test.
class Value {
public:
    Value() { VariantInit(&value_); }
    Value(const wchar_t* text);
    Value(const std::wstring& text);
    Value(int number);
    Value(double number);
    Value(bool flag);
    Value(const Value& other);
    Value& operator=(const Value& other);
    ~Value() { VariantClear(&value_); }

    VARIANT* get() { return &value_; }
    const VARIANT* get() const { return &value_; }
    VARTYPE type() const { return V_VT(&value_); }
    std::wstring text() const;  // converted as CStr would
    long long integer() const;
    IDispatch* object() const;  // borrowed; null unless an object

private:
    VARIANT value_;
};

// An object reached only through IDispatch.
class Automation {
public:
    Automation() = default;
    explicit Automation(IDispatch* object);  // adds a reference
    Automation(const Automation& other);
    Automation& operator=(const Automation& other);
    ~Automation();

    // A "corvane.FTP" gets the engine the run chose (ftp_engine_of_run()).
    static Automation create(const wchar_t* prog_id);
    // As the class makes it, whatever the run chose.
    static Automation create_as_made(const wchar_t* prog_id);

    Value get(const wchar_t* name, std::initializer_list<Value> arguments = {}) const;
    void put(const wchar_t* name, const Value& value) const;
    // Arguments in script order; `by_reference` passes each as a script
    // passes a variable (VT_BYREF | VT_VARIANT).
    Value call(const wchar_t* name, std::initializer_list<Value> arguments = {}, bool by_reference = false) const;
    // The default member, as `collection(index)` in a script.
    Value item(const Value& index) const;
    // A for-each walk over the object's enumerator.
    std::vector<Value> for_each() const;

    IDispatch* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    Value invoke(DISPID id, WORD flags, std::vector<Value> arguments, bool by_reference, bool named_put) const;
    DISPID id_of(const wchar_t* name) const;

    IDispatch* object_ = nullptr;
};

// The result of a call that may fail, for asserting on the failure.
template <class Call>
ScriptError error_of(Call&& call)
{
    try {
        call();
    } catch (const ScriptError& error) {
        return error;
    }
    return ScriptError(S_OK, L"", L"");
}

std::string narrow(const std::wstring& text);

// The FTP engine this run tests (CORVANE_TEST_FTP_ENGINE: 1 WinInet, 2 our
// own), 0 when the run leaves the object's default.
int ftp_engine_of_run();
// Gives an FTP object the run's engine; objects made without create().
void use_engine_of_run(const Automation& ftp);

}  // namespace corvane::integration
