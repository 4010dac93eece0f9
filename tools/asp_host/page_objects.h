#pragma once
// The page objects of the test host. All objects of one page share its
// PageState; only the Page reaches them from outside.

#include "frame/dispatch.h"
#include "tools/asp_host/interfaces.h"
#include "tools/asp_host/page_state.h"
#include "tools/asp_host/stored_values.h"

#include <memory>
#include <string>
#include <vector>

namespace corvane::asp_host {

using State = std::shared_ptr<PageState>;

class StringList final : public DispatchObject<IStringList> {
public:
    StringList(State state, std::vector<std::wstring> values)
        : state_(std::move(state)), values_(std::move(values))
    {
    }

    HRESULT STDMETHODCALLTYPE get_Item(VARIANT i, VARIANT* pVariantReturn) override;
    HRESULT STDMETHODCALLTYPE get_Count(int* cStrRet) override;
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** ppEnumReturn) override;

private:
    ~StringList() override = default;

    State state_;
    std::vector<std::wstring> values_;
};

class RequestDictionary final : public DispatchObject<IRequestDictionary> {
public:
    RequestDictionary(State state, Collection PageState::*collection, std::wstring name)
        : state_(std::move(state)), collection_(collection), name_(std::move(name))
    {
    }

    HRESULT STDMETHODCALLTYPE get_Item(VARIANT Var, VARIANT* pVariantReturn) override;
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** ppEnumReturn) override;
    HRESULT STDMETHODCALLTYPE get_Count(int* cStrRet) override;
    HRESULT STDMETHODCALLTYPE get_Key(VARIANT VarKey, VARIANT* pvar) override;

    // The values under a key as a string list; none if the key is missing.
    ComPtr<StringList> values_of(std::wstring_view key) const;

private:
    ~RequestDictionary() override = default;
    const Collection& collection() const { return (*state_).*collection_; }
    void enter(std::wstring_view member) const { state_->enter(name_, member); }

    State state_;
    Collection PageState::*collection_;
    std::wstring name_;
};

// Response.Cookies: Item gives the cookie of that name, made on first use.
class ResponseCookies final : public DispatchObject<IRequestDictionary> {
public:
    explicit ResponseCookies(State state) : state_(std::move(state)) {}

    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispatch_id, REFIID reserved, LCID locale, WORD flags,
                                     DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argument_error) override;
    HRESULT STDMETHODCALLTYPE get_Item(VARIANT Var, VARIANT* pVariantReturn) override;
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** ppEnumReturn) override;
    HRESULT STDMETHODCALLTYPE get_Count(int* cStrRet) override;
    HRESULT STDMETHODCALLTYPE get_Key(VARIANT VarKey, VARIANT* pvar) override;

    // `Response.Cookies(name) = value`, however the script engine sends it.
    HRESULT put_value(DISPPARAMS* parameters);

private:
    ~ResponseCookies() override = default;

    State state_;
};

class WriteCookie final : public DispatchObject<IAspWriteCookie> {
public:
    WriteCookie(State state, size_t index) : state_(std::move(state)), index_(index) {}

    HRESULT STDMETHODCALLTYPE get_Item(BSTR* Result) override;
    HRESULT STDMETHODCALLTYPE put_Item(BSTR Text) override;
    HRESULT STDMETHODCALLTYPE put_Expires(DATE When) override;
    HRESULT STDMETHODCALLTYPE get_Path(BSTR* Result) override;
    HRESULT STDMETHODCALLTYPE put_Path(BSTR Text) override;
    HRESULT STDMETHODCALLTYPE get_Domain(BSTR* Result) override;
    HRESULT STDMETHODCALLTYPE put_Domain(BSTR Text) override;
    HRESULT STDMETHODCALLTYPE get_Secure(VARIANT_BOOL* Result) override;
    HRESULT STDMETHODCALLTYPE put_Secure(VARIANT_BOOL Flag) override;

private:
    ~WriteCookie() override = default;
    ResponseCookie& cookie() const { return state_->response_cookies[index_]; }
    // A change is a Response call: a failure asked for, or the page's end, stops it.
    template <class Body>
    HRESULT change(Body&& body)
    {
        return member([&] {
            state_->enter(L"Response", L"Cookies");
            body();
        });
    }

    State state_;
    size_t index_;
};

class Session final : public DispatchObject<IAspSession> {
public:
    Session(State state, std::shared_ptr<SessionData> data) : state_(std::move(state)), data_(std::move(data)) {}

    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispatch_id, REFIID reserved, LCID locale, WORD flags,
                                     DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argument_error) override;
    HRESULT STDMETHODCALLTYPE get_Value(BSTR Name, VARIANT* Result) override;
    HRESULT STDMETHODCALLTYPE put_Value(BSTR Name, VARIANT Setting) override;
    HRESULT STDMETHODCALLTYPE putref_Value(BSTR Name, VARIANT Setting) override;
    HRESULT STDMETHODCALLTYPE get_SessionID(BSTR* Result) override;
    HRESULT STDMETHODCALLTYPE get_Timeout(LONG* Result) override;
    HRESULT STDMETHODCALLTYPE put_Timeout(LONG Minutes) override;
    HRESULT STDMETHODCALLTYPE Abandon() override;

private:
    ~Session() override = default;

    State state_;
    std::shared_ptr<SessionData> data_;
};

class Application final : public DispatchObject<IAspApplication> {
public:
    Application(State state, std::shared_ptr<StoredValues> values)
        : state_(std::move(state)), values_(std::move(values))
    {
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispatch_id, REFIID reserved, LCID locale, WORD flags,
                                     DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argument_error) override;
    HRESULT STDMETHODCALLTYPE get_Value(BSTR Name, VARIANT* Result) override;
    HRESULT STDMETHODCALLTYPE put_Value(BSTR Name, VARIANT Setting) override;
    HRESULT STDMETHODCALLTYPE putref_Value(BSTR Name, VARIANT Setting) override;
    HRESULT STDMETHODCALLTYPE Lock() override;
    HRESULT STDMETHODCALLTYPE UnLock() override;

private:
    ~Application() override = default;

    State state_;
    std::shared_ptr<StoredValues> values_;
};

class Request final : public DispatchObject<IRequest> {
public:
    explicit Request(State state);

    HRESULT STDMETHODCALLTYPE get_Item(BSTR bstrVar, IDispatch** ppObjReturn) override;
    HRESULT STDMETHODCALLTYPE get_QueryString(IRequestDictionary** ppDictReturn) override;
    HRESULT STDMETHODCALLTYPE get_Form(IRequestDictionary** ppDictReturn) override;
    HRESULT STDMETHODCALLTYPE get_Body(IRequestDictionary** ppDictReturn) override;
    HRESULT STDMETHODCALLTYPE get_ServerVariables(IRequestDictionary** ppDictReturn) override;
    HRESULT STDMETHODCALLTYPE get_ClientCertificate(IRequestDictionary** ppDictReturn) override;
    HRESULT STDMETHODCALLTYPE get_Cookies(IRequestDictionary** ppDictReturn) override;
    HRESULT STDMETHODCALLTYPE get_TotalBytes(LONG* pcbTotal) override;
    HRESULT STDMETHODCALLTYPE BinaryRead(VARIANT* pvarCountToRead, VARIANT* pvarReturn) override;

private:
    ~Request() override = default;
    HRESULT dictionary(const wchar_t* member, const ComPtr<RequestDictionary>& source,
                       IRequestDictionary** result);

    State state_;
    ComPtr<RequestDictionary> query_string_;
    ComPtr<RequestDictionary> form_;
    ComPtr<RequestDictionary> server_variables_;
    ComPtr<RequestDictionary> cookies_;
    size_t body_read_ = 0;
};

class Response final : public DispatchObject<IResponse> {
public:
    explicit Response(State state);

    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispatch_id, REFIID reserved, LCID locale, WORD flags,
                                     DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argument_error) override;

    HRESULT STDMETHODCALLTYPE get_Buffer(VARIANT_BOOL* fIsBuffering) override;
    HRESULT STDMETHODCALLTYPE put_Buffer(VARIANT_BOOL fIsBuffering) override;
    HRESULT STDMETHODCALLTYPE get_ContentType(BSTR* pbstrContentTypeRet) override;
    HRESULT STDMETHODCALLTYPE put_ContentType(BSTR bstrContentType) override;
    HRESULT STDMETHODCALLTYPE get_Expires(VARIANT* pvarExpiresMinutesRet) override;
    HRESULT STDMETHODCALLTYPE put_Expires(LONG lExpiresMinutes) override;
    HRESULT STDMETHODCALLTYPE get_ExpiresAbsolute(VARIANT* pvarExpiresRet) override;
    HRESULT STDMETHODCALLTYPE put_ExpiresAbsolute(DATE dtExpires) override;
    HRESULT STDMETHODCALLTYPE get_Cookies(IRequestDictionary** ppCookies) override;
    HRESULT STDMETHODCALLTYPE get_Status(BSTR* pbstrStatusRet) override;
    HRESULT STDMETHODCALLTYPE put_Status(BSTR bstrStatus) override;
    HRESULT STDMETHODCALLTYPE Add(BSTR bstrHeaderValue, BSTR bstrHeaderName) override;
    HRESULT STDMETHODCALLTYPE AddHeader(BSTR bstrHeaderName, BSTR bstrHeaderValue) override;
    HRESULT STDMETHODCALLTYPE AppendToLog(BSTR bstrLogEntry) override;
    HRESULT STDMETHODCALLTYPE BinaryWrite(VARIANT varInput) override;
    HRESULT STDMETHODCALLTYPE Clear() override;
    HRESULT STDMETHODCALLTYPE End() override;
    HRESULT STDMETHODCALLTYPE Flush() override;
    HRESULT STDMETHODCALLTYPE Redirect(BSTR bstrURL) override;
    HRESULT STDMETHODCALLTYPE Write(VARIANT varText) override;
    HRESULT STDMETHODCALLTYPE WriteBlock(short iBlockNumber) override;
    HRESULT STDMETHODCALLTYPE IsClientConnected(VARIANT_BOOL* pfIsClientConnected) override;
    HRESULT STDMETHODCALLTYPE get_CharSet(BSTR* pbstrCharSetRet) override;
    HRESULT STDMETHODCALLTYPE put_CharSet(BSTR bstrCharSet) override;
    HRESULT STDMETHODCALLTYPE Pics(BSTR bstrHeaderValue) override;
    HRESULT STDMETHODCALLTYPE get_CacheControl(BSTR* pbstrCacheControl) override;
    HRESULT STDMETHODCALLTYPE put_CacheControl(BSTR bstrCacheControl) override;

private:
    ~Response() override = default;
    // Logs the call, raises a failure asked for, then runs the body; a
    // call that fails stays in the log marked as failed.
    template <class Body>
    void record(const wchar_t* member, std::wstring entry, Body&& body);
    template <class Body>
    HRESULT read(const wchar_t* member, Body&& body);

    State state_;
    ComPtr<ResponseCookies> cookies_;
    Variant expires_;
    Variant expires_absolute_;
};

class Server final : public DispatchObject<IServer> {
public:
    explicit Server(State state) : state_(std::move(state)) {}

    HRESULT STDMETHODCALLTYPE get_ScriptTimeout(LONG* plTimeoutSeconds) override;
    HRESULT STDMETHODCALLTYPE put_ScriptTimeout(LONG lTimeoutSeconds) override;
    HRESULT STDMETHODCALLTYPE CreateObject(BSTR bstrProgID, IDispatch** ppDispObject) override;
    HRESULT STDMETHODCALLTYPE HTMLEncode(BSTR bstrIn, BSTR* pbstrEncoded) override;
    HRESULT STDMETHODCALLTYPE MapPath(BSTR bstrLogicalPath, BSTR* pbstrPhysicalPath) override;
    HRESULT STDMETHODCALLTYPE URLEncode(BSTR bstrIn, BSTR* pbstrEncoded) override;
    HRESULT STDMETHODCALLTYPE URLPathEncode(BSTR bstrIn, BSTR* pbstrEncoded) override;
    HRESULT STDMETHODCALLTYPE Execute(BSTR bstrLogicalPath) override;
    HRESULT STDMETHODCALLTYPE Transfer(BSTR bstrLogicalPath) override;
    HRESULT STDMETHODCALLTYPE GetLastError(IDispatch** ppASPErrorObject) override;

private:
    ~Server() override = default;

    State state_;
};

class ScriptingContext final : public DispatchObject<IScriptingContext> {
public:
    ScriptingContext(State state, ComPtr<Request> request, ComPtr<Response> response, ComPtr<Server> server)
        : state_(std::move(state)),
          request_(std::move(request)),
          response_(std::move(response)),
          server_(std::move(server))
    {
    }

    HRESULT STDMETHODCALLTYPE get_Request(IRequest** ppRequest) override;
    HRESULT STDMETHODCALLTYPE get_Response(IResponse** ppResponse) override;
    HRESULT STDMETHODCALLTYPE get_Server(IServer** ppServer) override;
    HRESULT STDMETHODCALLTYPE get_Session(IDispatch** ppSession) override;
    HRESULT STDMETHODCALLTYPE get_Application(IDispatch** ppApplication) override;

private:
    ~ScriptingContext() override = default;

    State state_;
    ComPtr<Request> request_;
    ComPtr<Response> response_;
    ComPtr<Server> server_;
    std::shared_ptr<SessionData> own_session_ = test_page_session();
    std::shared_ptr<StoredValues> own_application_ = std::make_shared<StoredValues>();
};

class LateBoundContext final : public DispatchObject<IAspLateBoundContext> {
public:
    LateBoundContext(State state, ComPtr<Request> request, ComPtr<Response> response, ComPtr<Server> server)
        : state_(std::move(state)),
          request_(std::move(request)),
          response_(std::move(response)),
          server_(std::move(server))
    {
    }

    HRESULT STDMETHODCALLTYPE get_Request(IDispatch** Result) override;
    HRESULT STDMETHODCALLTYPE get_Response(IDispatch** Result) override;
    HRESULT STDMETHODCALLTYPE get_Server(IDispatch** Result) override;

private:
    ~LateBoundContext() override = default;

    State state_;
    ComPtr<Request> request_;
    ComPtr<Response> response_;
    ComPtr<Server> server_;
};

class Page final : public DispatchObject<IAspTestPage> {
public:
    static ComPtr<IUnknown> create();
    Page();

    HRESULT STDMETHODCALLTYPE SetQueryString(BSTR Key, BSTR Value) override;
    HRESULT STDMETHODCALLTYPE SetForm(BSTR Key, BSTR Value) override;
    HRESULT STDMETHODCALLTYPE SetServerVariable(BSTR Name, BSTR Value) override;
    HRESULT STDMETHODCALLTYPE ParseQueryString(BSTR Text) override;
    HRESULT STDMETHODCALLTYPE ParseForm(BSTR Text) override;
    HRESULT STDMETHODCALLTYPE get_Context(IDispatch** Result) override;
    HRESULT STDMETHODCALLTYPE get_LateBoundContext(IDispatch** Result) override;
    HRESULT STDMETHODCALLTYPE get_Body(BSTR* Result) override;
    HRESULT STDMETHODCALLTYPE get_BodyBytes(VARIANT* Result) override;
    HRESULT STDMETHODCALLTYPE get_ContentType(BSTR* Result) override;
    HRESULT STDMETHODCALLTYPE get_Headers(BSTR* Result) override;
    HRESULT STDMETHODCALLTYPE get_Calls(BSTR* Result) override;
    HRESULT STDMETHODCALLTYPE get_Ended(VARIANT_BOOL* Result) override;
    HRESULT STDMETHODCALLTYPE put_StreamBody(VARIANT_BOOL Stream) override;
    HRESULT STDMETHODCALLTYPE get_BytesWritten(double* Result) override;
    HRESULT STDMETHODCALLTYPE get_BufferLimit(double* Result) override;
    HRESULT STDMETHODCALLTYPE put_BufferLimit(double Bytes) override;
    HRESULT STDMETHODCALLTYPE put_DisconnectAfter(double Bytes) override;
    HRESULT STDMETHODCALLTYPE FailNext(BSTR Call, LONG Number, BSTR Description) override;

private:
    ~Page() override = default;

    State state_;
    ComPtr<ScriptingContext> context_;
    ComPtr<LateBoundContext> late_bound_context_;
};

}  // namespace corvane::asp_host
