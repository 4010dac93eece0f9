#include "tests/integration/automation.h"

#include <cstdlib>
#include <cwchar>
#include <utility>

namespace corvane::integration {

namespace {

void check(HRESULT result, const char* what)
{
    if (FAILED(result))
        throw ScriptError(result, L"", std::wstring(what, what + std::char_traits<char>::length(what)));
}

std::wstring take(BSTR& text)
{
    std::wstring result = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    text = nullptr;
    return result;
}

}  // namespace

std::string narrow(const std::wstring& text)
{
    std::string result;
    for (wchar_t character : text)
        result += character < 128 ? static_cast<char>(character) : '?';
    return result;
}

ScriptError::ScriptError(HRESULT number_, std::wstring source_, std::wstring description_)
    : std::runtime_error(narrow(description_)),
      number(number_),
      source(std::move(source_)),
      description(std::move(description_))
{
}

Value::Value(const wchar_t* text) : Value(std::wstring(text)) {}

Value::Value(const std::wstring& text)
{
    V_VT(&value_) = VT_BSTR;
    V_BSTR(&value_) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

Value::Value(int number)
{
    V_VT(&value_) = VT_I4;
    V_I4(&value_) = number;
}

Value::Value(double number)
{
    V_VT(&value_) = VT_R8;
    V_R8(&value_) = number;
}

Value::Value(bool flag)
{
    V_VT(&value_) = VT_BOOL;
    V_BOOL(&value_) = flag ? VARIANT_TRUE : VARIANT_FALSE;
}

Value::Value(const Value& other)
{
    VariantInit(&value_);
    check(VariantCopy(&value_, const_cast<VARIANT*>(&other.value_)), "VariantCopy");
}

Value& Value::operator=(const Value& other)
{
    if (this != &other)
        check(VariantCopy(&value_, const_cast<VARIANT*>(&other.value_)), "VariantCopy");
    return *this;
}

std::wstring Value::text() const
{
    VARIANT converted;
    VariantInit(&converted);
    check(VariantChangeType(&converted, const_cast<VARIANT*>(&value_), 0, VT_BSTR), "conversion to text");
    return take(V_BSTR(&converted));
}

long long Value::integer() const
{
    VARIANT converted;
    VariantInit(&converted);
    check(VariantChangeType(&converted, const_cast<VARIANT*>(&value_), 0, VT_I8), "conversion to a number");
    return V_I8(&converted);
}

IDispatch* Value::object() const
{
    return V_VT(&value_) == VT_DISPATCH ? V_DISPATCH(&value_) : nullptr;
}

Automation::Automation(IDispatch* object) : object_(object)
{
    if (object_)
        object_->AddRef();
}

Automation::Automation(const Automation& other) : Automation(other.object_) {}

Automation& Automation::operator=(const Automation& other)
{
    Automation copy(other);
    std::swap(object_, copy.object_);
    return *this;
}

Automation::~Automation()
{
    if (object_)
        object_->Release();
}

int ftp_engine_of_run()
{
    const char* chosen = std::getenv("CORVANE_TEST_FTP_ENGINE");
    return chosen ? std::atoi(chosen) : 0;
}

void use_engine_of_run(const Automation& ftp)
{
    if (const int engine = ftp_engine_of_run())
        ftp.put(L"Engine", engine);
}

Automation Automation::create(const wchar_t* prog_id)
{
    Automation result = create_as_made(prog_id);
    if (_wcsicmp(prog_id, L"corvane.FTP") == 0)
        use_engine_of_run(result);
    return result;
}

Automation Automation::create_as_made(const wchar_t* prog_id)
{
    CLSID class_id{};
    check(CLSIDFromProgID(prog_id, &class_id), "CLSIDFromProgID");
    IDispatch* object = nullptr;
    check(CoCreateInstance(class_id, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object)),
          "CoCreateInstance");
    Automation result(object);
    object->Release();
    return result;
}

DISPID Automation::id_of(const wchar_t* name) const
{
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    check(object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), "GetIDsOfNames");
    return id;
}

Value Automation::invoke(DISPID id, WORD flags, std::vector<Value> arguments, bool by_reference,
                         bool named_put) const
{
    std::vector<VARIANT> passed(arguments.size());
    for (size_t index = 0; index < arguments.size(); ++index) {
        VARIANT& slot = passed[arguments.size() - 1 - index];  // last argument first
        if (by_reference) {
            V_VT(&slot) = VT_BYREF | VT_VARIANT;
            V_VARIANTREF(&slot) = arguments[index].get();
        } else {
            slot = *arguments[index].get();
        }
    }
    DISPID put_id = DISPID_PROPERTYPUT;
    DISPPARAMS parameters{passed.data(), named_put ? &put_id : nullptr, static_cast<UINT>(passed.size()),
                          named_put ? 1u : 0u};
    EXCEPINFO exception{};
    Value result;
    const HRESULT outcome =
        object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters, result.get(), &exception, nullptr);
    if (outcome == DISP_E_EXCEPTION) {
        if (exception.pfnDeferredFillIn)
            exception.pfnDeferredFillIn(&exception);
        SysFreeString(exception.bstrHelpFile);
        const HRESULT number = exception.scode ? exception.scode : static_cast<HRESULT>(exception.wCode);
        throw ScriptError(number, take(exception.bstrSource), take(exception.bstrDescription));
    }
    if (FAILED(outcome))
        throw ScriptError(outcome, L"", L"");
    return result;
}

Value Automation::get(const wchar_t* name, std::initializer_list<Value> arguments) const
{
    return invoke(id_of(name), DISPATCH_PROPERTYGET, arguments, false, false);
}

void Automation::put(const wchar_t* name, const Value& value) const
{
    invoke(id_of(name), DISPATCH_PROPERTYPUT, {value}, false, true);
}

Value Automation::call(const wchar_t* name, std::initializer_list<Value> arguments, bool by_reference) const
{
    return invoke(id_of(name), DISPATCH_METHOD | DISPATCH_PROPERTYGET, arguments, by_reference, false);
}

Value Automation::item(const Value& index) const
{
    return invoke(DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {index}, false, false);
}

std::vector<Value> Automation::for_each() const
{
    Value enumerator_value = invoke(DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, false, false);
    if (V_VT(enumerator_value.get()) != VT_UNKNOWN && V_VT(enumerator_value.get()) != VT_DISPATCH)
        throw ScriptError(DISP_E_TYPEMISMATCH, L"", L"no enumerator");
    IEnumVARIANT* enumerator = nullptr;
    check(V_UNKNOWN(enumerator_value.get())
              ->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&enumerator)),
          "IEnumVARIANT");
    std::vector<Value> items;
    for (;;) {
        Value next;
        ULONG fetched = 0;
        if (enumerator->Next(1, next.get(), &fetched) != S_OK || fetched != 1)
            break;
        items.push_back(next);
    }
    enumerator->Release();
    return items;
}

}  // namespace corvane::integration
