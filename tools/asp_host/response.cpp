// Response: a buffered body in the ANSI code page, headers, and a log of
// every method call and assignment. After End the host would stop the
// script; here later writes are logged and dropped.

#include "tools/asp_host/arguments.h"
#include "tools/asp_host/page_objects.h"

#include "frame/text.h"

namespace corvane::asp_host {

namespace {

constexpr wchar_t source[] = L"Response object";

class ArrayData {
public:
    explicit ArrayData(SAFEARRAY* array) : array_(array) { check_com(SafeArrayAccessData(array_, &data_)); }
    ArrayData(const ArrayData&) = delete;
    ArrayData& operator=(const ArrayData&) = delete;
    ~ArrayData() { SafeArrayUnaccessData(array_); }
    const char* bytes() const { return static_cast<const char*>(data_); }

private:
    SAFEARRAY* array_;
    void* data_ = nullptr;
};

// A byte array's bytes, read where they lie (through references, as a
// script passes them): a host copies a write once, into its buffer, and a
// copy more here would be charged to whoever writes.
template <class Use>
void with_bytes(const VARIANT& argument, Use&& use)
{
    const VARIANT* value = &argument;
    for (int depth = 0; depth < 8 && V_VT(value) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(value); ++depth)
        value = V_VARIANTREF(value);
    SAFEARRAY* array = nullptr;
    if (V_VT(value) == (VT_ARRAY | VT_UI1))
        array = V_ARRAY(value);
    else if (V_VT(value) == (VT_BYREF | VT_ARRAY | VT_UI1) && V_ARRAYREF(value))
        array = *V_ARRAYREF(value);
    if (!array || SafeArrayGetDim(array) != 1)
        check_com(DISP_E_TYPEMISMATCH);
    LONG lower = 0;
    LONG upper = -1;
    check_com(SafeArrayGetLBound(array, 1, &lower));
    check_com(SafeArrayGetUBound(array, 1, &upper));
    if (upper < lower)
        return use(std::string_view());
    const ArrayData data(array);
    use(std::string_view(data.bytes(), static_cast<size_t>(upper - lower) + 1));
}

std::wstring boolean_text(VARIANT_BOOL value)
{
    return value ? L"True" : L"False";
}

}  // namespace

Response::Response(State state) : state_(std::move(state)), cookies_(make_object<ResponseCookies>(state_)) {}

// `Response.Cookies(name) = value` reaches Response as an assignment to
// Cookies with the name as its argument.
HRESULT Response::Invoke(DISPID dispatch_id, REFIID reserved, LCID locale, WORD flags, DISPPARAMS* parameters,
                         VARIANT* result, EXCEPINFO* exception, UINT* argument_error)
{
    constexpr DISPID cookies_id = 5;
    if (dispatch_id == cookies_id && (flags & DISPATCH_PROPERTYPUT))
        return cookies_->put_value(parameters);
    return DispatchObject::Invoke(dispatch_id, reserved, locale, flags, parameters, result, exception,
                                  argument_error);
}

template <class Body>
void Response::record(const wchar_t* member_name, std::wstring entry, Body&& body)
{
    if (state_->stream_body) {
        state_->enter(L"Response", member_name);
        body();
        return;
    }
    state_->calls.push_back(std::move(entry));
    const size_t logged = state_->calls.size() - 1;
    try {
        state_->enter(L"Response", member_name);
        body();
    } catch (...) {
        state_->calls[logged] += L" failed";
        throw;
    }
}

template <class Body>
HRESULT Response::read(const wchar_t* member_name, Body&& body)
{
    return member([&] {
        state_->enter(L"Response", member_name);
        body();
    });
}

HRESULT Response::get_Buffer(VARIANT_BOOL* fIsBuffering)
{
    return read(L"Buffer", [&] {
        check_out(fIsBuffering);
        *fIsBuffering = state_->buffer ? VARIANT_TRUE : VARIANT_FALSE;
    });
}

HRESULT Response::put_Buffer(VARIANT_BOOL fIsBuffering)
{
    return member([&] {
        record(L"Buffer", L"Buffer=" + boolean_text(fIsBuffering), [&] {
            state_->check_headers_open();
            state_->buffer = fIsBuffering != VARIANT_FALSE;
            if (!state_->buffer && state_->body.size() > state_->flushed)
                state_->flush_body();
        });
    });
}

HRESULT Response::get_ContentType(BSTR* pbstrContentTypeRet)
{
    return read(L"ContentType", [&] {
        check_out(pbstrContentTypeRet);
        *pbstrContentTypeRet = allocate_bstr(state_->content_type);
    });
}

HRESULT Response::put_ContentType(BSTR bstrContentType)
{
    return member([&] {
        const std::wstring value(Bstr::view_of(bstrContentType));
        record(L"ContentType", L"ContentType=" + value, [&] {
            state_->check_headers_open();
            state_->content_type = value;
        });
    });
}

HRESULT Response::get_Expires(VARIANT* pvarExpiresMinutesRet)
{
    return read(L"Expires", [&] {
        check_out(pvarExpiresMinutesRet);
        check_com(VariantCopy(pvarExpiresMinutesRet, expires_.get()));
    });
}

HRESULT Response::put_Expires(LONG lExpiresMinutes)
{
    return member([&] {
        record(L"Expires", L"Expires=" + std::to_wstring(lExpiresMinutes), [&] {
            state_->check_headers_open();
            VARIANT* value = expires_.put();
            V_VT(value) = VT_I4;
            V_I4(value) = lExpiresMinutes;
        });
    });
}

HRESULT Response::get_ExpiresAbsolute(VARIANT* pvarExpiresRet)
{
    return read(L"ExpiresAbsolute", [&] {
        check_out(pvarExpiresRet);
        check_com(VariantCopy(pvarExpiresRet, expires_absolute_.get()));
    });
}

HRESULT Response::put_ExpiresAbsolute(DATE dtExpires)
{
    return member([&] {
        Variant value;
        V_VT(value.get()) = VT_DATE;
        V_DATE(value.get()) = dtExpires;
        record(L"ExpiresAbsolute", L"ExpiresAbsolute=" + text_of(*value.get()),
               [&] {
                   state_->check_headers_open();
                   expires_absolute_ = std::move(value);
               });
    });
}

HRESULT Response::get_Status(BSTR* pbstrStatusRet)
{
    return read(L"Status", [&] {
        check_out(pbstrStatusRet);
        *pbstrStatusRet = allocate_bstr(state_->status);
    });
}

HRESULT Response::put_Status(BSTR bstrStatus)
{
    return member([&] {
        const std::wstring value(Bstr::view_of(bstrStatus));
        record(L"Status", L"Status=" + value, [&] {
            state_->check_headers_open();
            state_->status = value;
        });
    });
}

HRESULT Response::Add(BSTR bstrHeaderValue, BSTR bstrHeaderName)
{
    return member([&] {
        const std::wstring header = std::wstring(Bstr::view_of(bstrHeaderName)) + L": " +
                                    std::wstring(Bstr::view_of(bstrHeaderValue));
        record(L"Add", L"Add " + header, [&] {
            state_->check_headers_open();
            state_->headers.push_back(header);
        });
    });
}

HRESULT Response::AddHeader(BSTR bstrHeaderName, BSTR bstrHeaderValue)
{
    return member([&] {
        const std::wstring header = std::wstring(Bstr::view_of(bstrHeaderName)) + L": " +
                                    std::wstring(Bstr::view_of(bstrHeaderValue));
        record(L"AddHeader", L"AddHeader " + header, [&] {
            state_->check_headers_open();
            state_->headers.push_back(header);
        });
    });
}

HRESULT Response::AppendToLog(BSTR bstrLogEntry)
{
    return member([&] {
        record(L"AppendToLog", L"AppendToLog " + std::wstring(Bstr::view_of(bstrLogEntry)), [] {});
    });
}

HRESULT Response::BinaryWrite(VARIANT varInput)
{
    return member([&] {
        with_bytes(varInput, [&](std::string_view bytes) {
            record(L"BinaryWrite", L"BinaryWrite " + std::to_wstring(bytes.size()), [&] {
                if (state_->ended)
                    return;
                state_->write_body(bytes);
            });
        });
    });
}

HRESULT Response::Clear()
{
    return member([&] {
        record(L"Clear", L"Clear", [&] {
            state_->check_buffering(L"Clear");
            state_->body.resize(state_->flushed);
        });
    });
}

HRESULT Response::End()
{
    return member([&] {
        record(L"End", L"End", [&] {
            // A server sends what is left once the page is over.
            if (!state_->send_out)
                state_->flushed = state_->body.size();
            state_->ended = true;
        });
    });
}

HRESULT Response::Flush()
{
    return member([&] {
        record(L"Flush", L"Flush", [&] {
            state_->check_buffering(L"Flush");
            state_->flush_body();
        });
    });
}

HRESULT Response::Redirect(BSTR bstrURL)
{
    return member([&] {
        const std::wstring url(Bstr::view_of(bstrURL));
        record(L"Redirect", L"Redirect " + url, [&] {
            state_->check_headers_open();
            state_->status = L"302 Object moved";
            state_->headers.push_back(L"Location: " + url);
            state_->body.resize(state_->flushed);
            state_->ended = true;
        });
    });
}

HRESULT Response::Write(VARIANT varText)
{
    return member([&] {
        record(L"Write", L"Write", [&] {
            if (state_->ended)
                return;
            const Variant value = plain(varText);
            if (V_VT(value.get()) == VT_NULL)
                return;
            // A script's True and False are written as words, not numbers.
            if (V_VT(value.get()) == VT_BOOL) {
                state_->write_body(V_BOOL(value.get()) ? "True" : "False");
                return;
            }
            state_->write_body(ansi_of(text_of(*value.get())));
        });
    });
}

// The page's literal text, as a host that runs page scripts keeps it.
HRESULT Response::WriteBlock(short iBlockNumber)
{
    return member([&] {
        record(L"WriteBlock", L"WriteBlock " + std::to_wstring(iBlockNumber), [&] {
            if (iBlockNumber < 0 || static_cast<size_t>(iBlockNumber) >= state_->blocks.size())
                throw ComponentError(DISP_E_BADINDEX, std::wstring(source), L"No such block");
            if (state_->ended)
                return;
            state_->write_body(state_->blocks[static_cast<size_t>(iBlockNumber)]);
        });
    });
}

HRESULT Response::IsClientConnected(VARIANT_BOOL* pfIsClientConnected)
{
    return read(L"IsClientConnected", [&] {
        check_out(pfIsClientConnected);
        *pfIsClientConnected = state_->is_client_connected() ? VARIANT_TRUE : VARIANT_FALSE;
    });
}

HRESULT Response::get_CharSet(BSTR* pbstrCharSetRet)
{
    return read(L"CharSet", [&] {
        check_out(pbstrCharSetRet);
        *pbstrCharSetRet = allocate_bstr(state_->charset);
    });
}

HRESULT Response::put_CharSet(BSTR bstrCharSet)
{
    return member([&] {
        const std::wstring value(Bstr::view_of(bstrCharSet));
        record(L"CharSet", L"CharSet=" + value, [&] {
            state_->check_headers_open();
            state_->charset = value;
        });
    });
}

HRESULT Response::Pics(BSTR bstrHeaderValue)
{
    return member([&] {
        const std::wstring value(Bstr::view_of(bstrHeaderValue));
        record(L"Pics", L"Pics " + value, [&] {
            state_->check_headers_open();
            state_->headers.push_back(L"PICS-Label: " + value);
        });
    });
}

HRESULT Response::get_CacheControl(BSTR* pbstrCacheControl)
{
    return read(L"CacheControl", [&] {
        check_out(pbstrCacheControl);
        *pbstrCacheControl = allocate_bstr(state_->cache_control);
    });
}

HRESULT Response::put_CacheControl(BSTR bstrCacheControl)
{
    return member([&] {
        const std::wstring value(Bstr::view_of(bstrCacheControl));
        record(L"CacheControl", L"CacheControl=" + value, [&] {
            state_->check_headers_open();
            state_->cache_control = value;
        });
    });
}

HRESULT Response::get_Cookies(IRequestDictionary** ppCookies)
{
    return read(L"Cookies", [&] {
        check_out(ppCookies);
        *ppCookies = ComPtr<ResponseCookies>(cookies_).detach();
    });
}

}  // namespace corvane::asp_host
