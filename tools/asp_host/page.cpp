// The test page: sets up the request, hands out the scripting context and
// shows what the component did to the response.

#include "tools/asp_host/arguments.h"
#include "tools/asp_host/page_objects.h"

#include "frame/text.h"
#include "frame/variants.h"

#include <cstring>
#include <new>
#include <utility>

namespace corvane::asp_host {

namespace {

template <class Object>
void share_into(IDispatch** out, const ComPtr<Object>& object)
{
    check_out(out);
    *out = ComPtr<Object>(object).detach();
}

std::wstring lines_of(const std::vector<std::wstring>& lines)
{
    std::wstring text;
    for (const std::wstring& line : lines) {
        if (!text.empty())
            text += L"\r\n";
        text += line;
    }
    return text;
}

template <class Object>
void context_member(const State& state, const wchar_t* member_name, const ComPtr<Object>& object, IDispatch** out)
{
    state->enter(L"Context", member_name);
    share_into(out, object);
}

}  // namespace

ComPtr<IUnknown> Page::create()
{
    return ComPtr<IUnknown>::adopt(static_cast<IAspTestPage*>(make_object<Page>().detach()));
}

Page::Page() : state_(std::make_shared<PageState>())
{
    auto request = make_object<Request>(state_);
    auto response = make_object<Response>(state_);
    auto server = make_object<Server>(state_);
    context_ = make_object<ScriptingContext>(state_, request, response, server);
    late_bound_context_ = make_object<LateBoundContext>(state_, request, response, server);
}

HRESULT Page::SetQueryString(BSTR Key, BSTR Value)
{
    return member([&] {
        state_->query_string.add(Bstr::view_of(Key), Bstr::view_of(Value));
        state_->query_string_changed();
    });
}

HRESULT Page::SetForm(BSTR Key, BSTR Value)
{
    return member([&] { state_->form.add(Bstr::view_of(Key), Bstr::view_of(Value)); });
}

HRESULT Page::SetServerVariable(BSTR Name, BSTR Value)
{
    return member([&] { state_->server_variables.replace(Bstr::view_of(Name), Bstr::view_of(Value)); });
}

HRESULT Page::ParseQueryString(BSTR Text)
{
    return member([&] {
        state_->query_string.parse(Bstr::view_of(Text));
        state_->query_string_changed();
    });
}

HRESULT Page::ParseForm(BSTR Text)
{
    return member([&] { state_->form.parse(Bstr::view_of(Text)); });
}

HRESULT Page::get_Context(IDispatch** Result)
{
    return member([&] { share_into(Result, context_); });
}

HRESULT Page::get_LateBoundContext(IDispatch** Result)
{
    return member([&] { share_into(Result, late_bound_context_); });
}

HRESULT Page::get_Body(BSTR* Result)
{
    return member([&] {
        check_out(Result);
        *Result = allocate_bstr(text_of_ansi(state_->body));
    });
}

HRESULT Page::get_BodyBytes(VARIANT* Result)
{
    return member([&] {
        check_out(Result);
        set_variant_bytes(Result, state_->body);
    });
}

HRESULT Page::get_ContentType(BSTR* Result)
{
    return member([&] {
        check_out(Result);
        *Result = allocate_bstr(state_->content_type);
    });
}

HRESULT Page::get_Headers(BSTR* Result)
{
    return member([&] {
        check_out(Result);
        *Result = allocate_bstr(lines_of(state_->headers));
    });
}

HRESULT Page::get_Calls(BSTR* Result)
{
    return member([&] {
        check_out(Result);
        *Result = allocate_bstr(lines_of(state_->calls));
    });
}

HRESULT Page::get_Ended(VARIANT_BOOL* Result)
{
    return member([&] {
        check_out(Result);
        *Result = state_->ended ? VARIANT_TRUE : VARIANT_FALSE;
    });
}

HRESULT Page::put_StreamBody(VARIANT_BOOL Stream)
{
    return member([&] {
        state_->stream_body = Stream != VARIANT_FALSE;
        state_->send_out = nullptr;
        if (state_->stream_body)
            state_->send_out = [](std::string_view) {};
    });
}

HRESULT Page::get_BufferLimit(double* Result)
{
    return member([&] {
        check_out(Result);
        *Result = static_cast<double>(state_->buffer_limit);
    });
}

HRESULT Page::put_BufferLimit(double Bytes)
{
    return member([&] {
        if (!(Bytes >= 0 && Bytes <= 1e15))
            check_com(E_INVALIDARG);
        state_->buffer_limit = static_cast<size_t>(Bytes);
    });
}

HRESULT Page::put_DisconnectAfter(double Bytes)
{
    return member([&] {
        if (!(Bytes <= 1e15))
            check_com(E_INVALIDARG);
        state_->disconnect_after.reset();
        if (Bytes >= 0)
            state_->disconnect_after = static_cast<unsigned long long>(Bytes);
    });
}

HRESULT Page::get_BytesWritten(double* Result)
{
    return member([&] {
        check_out(Result);
        *Result = static_cast<double>(state_->bytes_written);
    });
}

HRESULT Page::FailNext(BSTR Call, LONG Number, BSTR Description)
{
    return member([&] {
        state_->fail_next(std::wstring(Bstr::view_of(Call)), Number, std::wstring(Bstr::view_of(Description)));
    });
}

HRESULT ScriptingContext::get_Request(IRequest** ppRequest)
{
    return member([&] {
        check_out(ppRequest);
        state_->enter(L"Context", L"Request");
        *ppRequest = ComPtr<Request>(request_).detach();
    });
}

HRESULT ScriptingContext::get_Response(IResponse** ppResponse)
{
    return member([&] {
        check_out(ppResponse);
        state_->enter(L"Context", L"Response");
        *ppResponse = ComPtr<Response>(response_).detach();
    });
}

HRESULT ScriptingContext::get_Server(IServer** ppServer)
{
    return member([&] {
        check_out(ppServer);
        state_->enter(L"Context", L"Server");
        *ppServer = ComPtr<Server>(server_).detach();
    });
}

// A server hands in its own stores; a test page keeps its own for as long
// as the page lives.
HRESULT ScriptingContext::get_Session(IDispatch** ppSession)
{
    return member([&] {
        const ComPtr<IDispatch> session =
            state_->session ? state_->session : ComPtr<IDispatch>::share(make_object<Session>(state_, own_session_).get());
        context_member(state_, L"Session", session, ppSession);
    });
}

HRESULT ScriptingContext::get_Application(IDispatch** ppApplication)
{
    return member([&] {
        const ComPtr<IDispatch> application =
            state_->application ? state_->application
                                : ComPtr<IDispatch>::share(make_object<Application>(state_, own_application_).get());
        context_member(state_, L"Application", application, ppApplication);
    });
}

HRESULT LateBoundContext::get_Request(IDispatch** Result)
{
    return member([&] { context_member(state_, L"Request", request_, Result); });
}

HRESULT LateBoundContext::get_Response(IDispatch** Result)
{
    return member([&] { context_member(state_, L"Response", response_, Result); });
}

HRESULT LateBoundContext::get_Server(IDispatch** Result)
{
    return member([&] { context_member(state_, L"Server", server_, Result); });
}

}  // namespace corvane::asp_host
