// Session, Application and Response.Cookies: the page objects that keep
// something beyond one response body.

#include "tools/asp_host/arguments.h"
#include "tools/asp_host/page_objects.h"

#include "frame/text.h"

namespace corvane::asp_host {

namespace {

void set_text(BSTR* out, std::wstring_view text)
{
    check_out(out);
    *out = allocate_bstr(text);
}

bool holds_object(const VARIANT& value)
{
    const VARTYPE type = V_VT(&value) & ~VT_BYREF;
    return type == VT_DISPATCH || type == VT_UNKNOWN;
}

// A cookie name goes into a header as it is: a token only.
void check_cookie_name(std::wstring_view name)
{
    static constexpr std::wstring_view separators = L"()<>@,;:\\\"/[]?={} \t";
    bool valid = !name.empty();
    for (const wchar_t c : name)
        valid = valid && c > 32 && c < 127 && separators.find(c) == std::wstring_view::npos;
    if (!valid)
        throw ComponentError(E_INVALIDARG, L"Response object", L"Invalid cookie name: " + std::wstring(name));
}

size_t cookie_index(PageState& state, std::wstring_view name)
{
    check_cookie_name(name);
    for (size_t i = 0; i < state.response_cookies.size(); ++i) {
        if (same_name(state.response_cookies[i].name, name))
            return i;
    }
    ResponseCookie cookie;
    cookie.name = name;
    state.response_cookies.push_back(std::move(cookie));
    return state.response_cookies.size() - 1;
}

// `Session(name) = value`: the script engine may ask for a put and a
// put-by-reference at once, which the type library's dispatch refuses.
template <class Put>
std::optional<HRESULT> put_default(DISPID dispatch_id, WORD flags, DISPPARAMS* parameters, Put&& put)
{
    if (dispatch_id != DISPID_VALUE || !(flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)))
        return std::nullopt;
    if (!parameters || parameters->cArgs != 2)
        return DISP_E_BADPARAMCOUNT;
    try {
        const Variant name = plain(parameters->rgvarg[1]);
        Bstr text(text_of(*name.get()));
        return put(text.get(), parameters->rgvarg[0]);
    } catch (...) {
        return hresult_of_current_exception();
    }
}

}  // namespace

HRESULT Session::Invoke(DISPID dispatch_id, REFIID reserved, LCID locale, WORD flags, DISPPARAMS* parameters,
                        VARIANT* result, EXCEPINFO* exception, UINT* argument_error)
{
    if (auto put = put_default(dispatch_id, flags, parameters,
                               [&](BSTR name, const VARIANT& value) { return put_Value(name, value); }))
        return *put;
    return DispatchObject::Invoke(dispatch_id, reserved, locale, flags, parameters, result, exception,
                                  argument_error);
}

HRESULT Application::Invoke(DISPID dispatch_id, REFIID reserved, LCID locale, WORD flags, DISPPARAMS* parameters,
                            VARIANT* result, EXCEPINFO* exception, UINT* argument_error)
{
    if (auto put = put_default(dispatch_id, flags, parameters,
                               [&](BSTR name, const VARIANT& value) { return put_Value(name, value); }))
        return *put;
    return DispatchObject::Invoke(dispatch_id, reserved, locale, flags, parameters, result, exception,
                                  argument_error);
}

void StoredValues::read(std::wstring_view name, VARIANT* out) const
{
    VariantInit(out);
    for (const auto& [key, value] : entries_) {
        if (same_name(key, name)) {
            check_com(VariantCopy(out, const_cast<VARIANT*>(value.get())));
            return;
        }
    }
}

void StoredValues::write(std::wstring_view name, const VARIANT& value)
{
    Variant copy = plain(value);
    for (auto entry = entries_.begin(); entry != entries_.end(); ++entry) {
        if (same_name(entry->first, name)) {
            if (V_VT(copy.get()) == VT_EMPTY)
                entries_.erase(entry);
            else
                entry->second = std::move(copy);
            return;
        }
    }
    if (V_VT(copy.get()) != VT_EMPTY)
        entries_.emplace_back(std::wstring(name), std::move(copy));
}

void StoredValues::drop_objects()
{
    std::erase_if(entries_, [](const auto& entry) { return holds_object(*entry.second.get()); });
}

HRESULT Session::get_Value(BSTR Name, VARIANT* Result)
{
    return member([&] {
        check_out(Result);
        state_->enter(L"Session", L"Value");
        data_->values.read(Bstr::view_of(Name), Result);
    });
}

HRESULT Session::put_Value(BSTR Name, VARIANT Setting)
{
    return member([&] {
        state_->enter(L"Session", L"Value");
        data_->values.write(Bstr::view_of(Name), Setting);
    });
}

HRESULT Session::putref_Value(BSTR Name, VARIANT Setting)
{
    return put_Value(Name, Setting);
}

HRESULT Session::get_SessionID(BSTR* Result)
{
    return member([&] {
        state_->enter(L"Session", L"SessionID");
        set_text(Result, data_->id);
    });
}

HRESULT Session::get_Timeout(LONG* Result)
{
    return member([&] {
        check_out(Result);
        state_->enter(L"Session", L"Timeout");
        *Result = data_->timeout_minutes;
    });
}

HRESULT Session::put_Timeout(LONG Minutes)
{
    return member([&] {
        state_->enter(L"Session", L"Timeout");
        if (Minutes < 1 || Minutes > 24 * 60)
            throw ComponentError(E_INVALIDARG, L"Session object", L"The timeout must be between 1 and 1440 minutes.");
        data_->timeout_minutes = Minutes;
    });
}

// As on a classic host, the values stay readable until the page ends.
HRESULT Session::Abandon()
{
    return member([&] {
        state_->enter(L"Session", L"Abandon");
        data_->abandoned = true;
    });
}

HRESULT Application::get_Value(BSTR Name, VARIANT* Result)
{
    return member([&] {
        check_out(Result);
        state_->enter(L"Application", L"Value");
        values_->read(Bstr::view_of(Name), Result);
    });
}

HRESULT Application::put_Value(BSTR Name, VARIANT Setting)
{
    return member([&] {
        state_->enter(L"Application", L"Value");
        values_->write(Bstr::view_of(Name), Setting);
    });
}

HRESULT Application::putref_Value(BSTR Name, VARIANT Setting)
{
    return put_Value(Name, Setting);
}

// One page runs at a time: there is nothing to lock against.
HRESULT Application::Lock()
{
    return member([&] { state_->enter(L"Application", L"Lock"); });
}

HRESULT Application::UnLock()
{
    return member([&] { state_->enter(L"Application", L"UnLock"); });
}

HRESULT ResponseCookies::Invoke(DISPID dispatch_id, REFIID reserved, LCID locale, WORD flags,
                                DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                UINT* argument_error)
{
    if (dispatch_id == DISPID_VALUE && (flags & DISPATCH_PROPERTYPUT))
        return put_value(parameters);
    return DispatchObject::Invoke(dispatch_id, reserved, locale, flags, parameters, result, exception,
                                  argument_error);
}

HRESULT ResponseCookies::put_value(DISPPARAMS* parameters)
{
    return member([&] {
        state_->enter(L"Response", L"Cookies");
        // Arguments come last first; the assigned value is the named one.
        if (!parameters || parameters->cArgs != 2)
            check_com(DISP_E_BADPARAMCOUNT);
        const std::wstring name = text_of(*plain(parameters->rgvarg[1]).get());
        const std::wstring value = text_of(*plain(parameters->rgvarg[0]).get());
        state_->check_headers_open();
        state_->response_cookies[cookie_index(*state_, name)].value = value;
    });
}

HRESULT ResponseCookies::get_Item(VARIANT Var, VARIANT* pVariantReturn)
{
    return member([&] {
        check_out(pVariantReturn);
        state_->enter(L"Response", L"Cookies");
        const size_t index = cookie_index(*state_, text_of(*plain(Var).get()));
        set_variant_object(pVariantReturn, make_object<WriteCookie>(state_, index).get());
    });
}

HRESULT ResponseCookies::get__NewEnum(IUnknown** ppEnumReturn)
{
    return member([&] {
        check_out(ppEnumReturn);
        state_->enter(L"Response", L"Cookies");
        std::vector<std::wstring> names;
        for (const ResponseCookie& cookie : state_->response_cookies)
            names.push_back(cookie.name);
        set_enumerator(ppEnumReturn, std::move(names));
    });
}

HRESULT ResponseCookies::get_Count(int* cStrRet)
{
    return member([&] {
        check_out(cStrRet);
        *cStrRet = static_cast<int>(state_->response_cookies.size());
    });
}

// The cookie's name by its 1-based position, or as set for a name in any
// letter case; Empty for a name never set.
HRESULT ResponseCookies::get_Key(VARIANT VarKey, VARIANT* pvar)
{
    return member([&] {
        check_out(pvar);
        state_->enter(L"Response", L"Cookies");
        const Variant key = plain(VarKey);
        const auto& cookies = state_->response_cookies;
        if (const std::optional<long> position = index_of(*key.get())) {
            if (*position < 1 || static_cast<size_t>(*position) > cookies.size())
                throw ComponentError(DISP_E_BADINDEX, L"Response object", L"Index out of range");
            set_variant_text(pvar, cookies[static_cast<size_t>(*position - 1)].name);
            return;
        }
        const std::wstring name = text_of(*key.get());
        for (const ResponseCookie& cookie : cookies) {
            if (same_name(cookie.name, name)) {
                set_variant_text(pvar, cookie.name);
                return;
            }
        }
    });
}

HRESULT WriteCookie::get_Item(BSTR* Result)
{
    return member([&] { set_text(Result, cookie().value); });
}

HRESULT WriteCookie::put_Item(BSTR Text)
{
    return change([&] { cookie().value = Bstr::view_of(Text); });
}

HRESULT WriteCookie::put_Expires(DATE When)
{
    return change([&] { cookie().expires = When; });
}

HRESULT WriteCookie::get_Path(BSTR* Result)
{
    return member([&] { set_text(Result, cookie().path); });
}

HRESULT WriteCookie::put_Path(BSTR Text)
{
    return change([&] { cookie().path = Bstr::view_of(Text); });
}

HRESULT WriteCookie::get_Domain(BSTR* Result)
{
    return member([&] { set_text(Result, cookie().domain); });
}

HRESULT WriteCookie::put_Domain(BSTR Text)
{
    return change([&] { cookie().domain = Bstr::view_of(Text); });
}

HRESULT WriteCookie::get_Secure(VARIANT_BOOL* Result)
{
    return member([&] {
        check_out(Result);
        *Result = cookie().secure ? VARIANT_TRUE : VARIANT_FALSE;
    });
}

HRESULT WriteCookie::put_Secure(VARIANT_BOOL Flag)
{
    return change([&] { cookie().secure = Flag != VARIANT_FALSE; });
}

}  // namespace corvane::asp_host
