// The test ASP host as a component sees it: through the platform's own
// asptlb.h interfaces and ids, and the default value read through IDispatch.

#include "frame/com_ptr.h"
#include "frame/win32.h"
#include "tools/asp_host/test_page.h"

#include <asptlb.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace corvane::asp_host {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

template <class Interface>
ComPtr<Interface> as(IUnknown* object, REFIID interface_id)
{
    ComPtr<Interface> result;
    EXPECT_EQ(object->QueryInterface(interface_id, reinterpret_cast<void**>(result.put())), S_OK);
    return result;
}

struct Error {
    HRESULT number;
    std::wstring source;
    std::wstring description;
};

Error error_of(HRESULT number)
{
    Error error{number, {}, {}};
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) == S_OK && info) {
        Bstr text;
        info->GetSource(text.put());
        error.source = text.view();
        info->GetDescription(text.put());
        error.description = text.view();
    }
    return error;
}

Variant default_value(IDispatch* object)
{
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    Variant value;
    EXPECT_EQ(object->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value.put(),
                             nullptr, nullptr),
              S_OK);
    return value;
}

Variant text(std::wstring_view value)
{
    Variant result;
    V_BSTR(result.get()) = Bstr(value).detach();
    V_VT(result.get()) = VT_BSTR;
    return result;
}

class AspHost : public ::testing::Test {
protected:
    AspHost()
        : page(new_page()),
          context(as<IScriptingContext>(context_of(page.get()).get(), IID_IScriptingContext))
    {
        context->get_Response(response.put());
        context->get_Request(request.put());
        context->get_Server(server.put());
    }

    void set_query(const wchar_t* key, const wchar_t* value)
    {
        ASSERT_EQ(page->SetQueryString(Bstr(key).get(), Bstr(value).get()), S_OK);
    }

    // What the component gets for Request.QueryString(key).
    ComPtr<IStringList> query_values(const wchar_t* key)
    {
        ComPtr<IRequestDictionary> query;
        EXPECT_EQ(request->get_QueryString(query.put()), S_OK);
        Variant values;
        EXPECT_EQ(query->get_Item(*text(key).get(), values.put()), S_OK);
        EXPECT_EQ(V_VT(values.get()), VT_DISPATCH);
        return as<IStringList>(V_DISPATCH(values.get()), IID_IStringList);
    }

    std::wstring url_encode(const wchar_t* value)
    {
        Bstr encoded;
        EXPECT_EQ(server->URLEncode(Bstr(value).get(), encoded.put()), S_OK);
        return std::wstring(encoded.view());
    }

    HRESULT write(const wchar_t* value) { return response->Write(*text(value).get()); }

    HRESULT binary_write(size_t size)
    {
        Variant bytes;
        V_ARRAY(bytes.get()) = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size));
        V_VT(bytes.get()) = VT_ARRAY | VT_UI1;
        void* data = nullptr;
        SafeArrayAccessData(V_ARRAY(bytes.get()), &data);
        for (size_t i = 0; i < size; ++i)
            static_cast<unsigned char*>(data)[i] = static_cast<unsigned char>(i);
        SafeArrayUnaccessData(V_ARRAY(bytes.get()));
        return response->BinaryWrite(*bytes.get());
    }

    ComPtr<IAspTestPage> page;
    ComPtr<IScriptingContext> context;
    ComPtr<IResponse> response;
    ComPtr<IRequest> request;
    ComPtr<IServer> server;
};

TEST_F(AspHost, URLEncodeKeepsLettersAndDigitsAndEscapesAnsiBytes)
{
    EXPECT_EQ(url_encode(L"a b&c/\u00e9."), L"a+b%26c%2F%E9%2E");
    EXPECT_EQ(url_encode(L"AZaz09-_~*"), L"AZaz09%2D%5F%7E%2A");
}

TEST_F(AspHost, MissingKeyGivesEmptyListWhoseValueIsEmpty)
{
    set_query(L"present", L"1");
    ComPtr<IStringList> values = query_values(L"absent");
    int count = -1;
    EXPECT_EQ(values->get_Count(&count), S_OK);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(V_VT(default_value(values.get()).get()), VT_EMPTY);
}

TEST_F(AspHost, KeyWithTwoValuesJoinsThemAndIgnoresLetterCase)
{
    set_query(L"d", L"first");
    set_query(L"other", L"x");
    set_query(L"D", L"second");
    ComPtr<IStringList> values = query_values(L"d");
    int count = 0;
    values->get_Count(&count);
    EXPECT_EQ(count, 2);
    Variant joined = default_value(values.get());
    ASSERT_EQ(V_VT(joined.get()), VT_BSTR);
    EXPECT_EQ(Bstr::view_of(V_BSTR(joined.get())), L"first, second");

    Variant index;
    V_VT(index.get()) = VT_I4;
    V_I4(index.get()) = 2;
    Variant second;
    ASSERT_EQ(values->get_Item(*index.get(), second.put()), S_OK);
    EXPECT_EQ(Bstr::view_of(V_BSTR(second.get())), L"second");
}

TEST_F(AspHost, ParsedQueryTextIsDecodedInTheAnsiCodePage)
{
    ASSERT_EQ(page->ParseQueryString(Bstr(L"name=a+b%26c%E9&flag").get()), S_OK);
    EXPECT_EQ(Bstr::view_of(V_BSTR(default_value(query_values(L"NAME").get()).get())), L"a b&c\u00e9");
    int count = 0;
    query_values(L"flag")->get_Count(&count);
    EXPECT_EQ(count, 1);
}

TEST_F(AspHost, CallsAreLoggedInOrderAndClearDropsTheBufferedBody)
{
    EXPECT_EQ(write(L"discarded"), S_OK);
    EXPECT_EQ(response->Clear(), S_OK);
    EXPECT_EQ(response->put_ContentType(Bstr(L"application/octet-stream").get()), S_OK);
    EXPECT_EQ(response->AddHeader(Bstr(L"Content-Disposition").get(), Bstr(L"attachment;filename=x").get()), S_OK);
    EXPECT_EQ(binary_write(4096), S_OK);
    EXPECT_EQ(response->End(), S_OK);

    EXPECT_THAT(calls_of(page.get()),
                ElementsAre(L"Write", L"Clear", L"ContentType=application/octet-stream",
                            L"AddHeader Content-Disposition: attachment;filename=x", L"BinaryWrite 4096", L"End"));
    EXPECT_THAT(headers_of(page.get()), ElementsAre(L"Content-Disposition: attachment;filename=x"));
    const std::string body = body_bytes_of(page.get());
    ASSERT_EQ(body.size(), 4096u);
    EXPECT_EQ(static_cast<unsigned char>(body[255]), 255);
    EXPECT_EQ(static_cast<unsigned char>(body[256]), 0);
}

TEST_F(AspHost, EndIgnoresLaterWrites)
{
    write(L"kept");
    response->End();
    EXPECT_EQ(write(L" dropped"), S_OK);
    EXPECT_EQ(binary_write(3), S_OK);

    EXPECT_EQ(body_of(page.get()), L"kept");
    EXPECT_THAT(calls_of(page.get()), ElementsAre(L"Write", L"End", L"Write", L"BinaryWrite 3"));
    VARIANT_BOOL ended = VARIANT_FALSE;
    page->get_Ended(&ended);
    EXPECT_EQ(ended, VARIANT_TRUE);
}

// What IIS refuses, each with its own error: the buffer past its limit,
// Clear and Flush with buffering off, headers once they went out.
TEST_F(AspHost, RefusesWhatIisRefuses)
{
    struct Row {
        const char* name;
        std::function<void()> before;
        std::function<HRESULT()> call;
        std::wstring error;  // how the description starts; empty: no error
        std::wstring body;
    };
    const Bstr name(L"X-Late");
    const std::vector<Row> rows = {
        {"buffer past its limit", [&] { page->put_BufferLimit(8); write(L"12345"); }, [&] { return write(L"6789"); },
         L"ASP 0251", L"12345"},
        {"a flush empties the buffer", [&] { page->put_BufferLimit(8); write(L"12345"); response->Flush(); },
         [&] { return write(L"6789"); }, L"", L"123456789"},
        {"no limit unbuffered", [&] { page->put_BufferLimit(2); response->put_Buffer(VARIANT_FALSE); },
         [&] { return write(L"longer"); }, L"", L"longer"},
        {"Clear unbuffered", [&] { response->put_Buffer(VARIANT_FALSE); write(L"sent"); },
         [&] { return response->Clear(); }, L"ASP 0159", L"sent"},
        {"Flush unbuffered", [&] { response->put_Buffer(VARIANT_FALSE); }, [&] { return response->Flush(); },
         L"ASP 0159", L""},
        {"header after a flush", [&] { write(L"a"); response->Flush(); },
         [&] { return response->AddHeader(name.get(), name.get()); }, L"ASP 0156", L"a"},
        {"header after an unbuffered write", [&] { response->put_Buffer(VARIANT_FALSE); write(L"a"); },
         [&] { return response->put_ContentType(name.get()); }, L"ASP 0156", L"a"},
        {"header after a buffered write", [&] { write(L"a"); }, [&] { return response->put_Status(name.get()); }, L"",
         L"a"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        page = new_page();
        context = as<IScriptingContext>(context_of(page.get()).get(), IID_IScriptingContext);
        context->get_Response(response.put());
        row.before();
        const Error error = error_of(row.call());
        if (row.error.empty()) {
            EXPECT_EQ(error.number, S_OK);
        } else {
            EXPECT_EQ(error.number, E_FAIL);
            EXPECT_EQ(error.description.substr(0, row.error.size()), row.error);
        }
        EXPECT_EQ(body_of(page.get()), row.body);
    }
}

TEST_F(AspHost, FailNextFailsOnlyTheNextCallOfThatName)
{
    ASSERT_EQ(page->FailNext(Bstr(L"write").get(), static_cast<LONG>(0x80040123), Bstr(L"disk full").get()), S_OK);
    EXPECT_EQ(response->put_ContentType(Bstr(L"text/plain").get()), S_OK);

    const Error error = error_of(write(L"lost"));
    EXPECT_EQ(error.number, static_cast<HRESULT>(0x80040123));
    EXPECT_EQ(error.source, L"Response object");
    EXPECT_EQ(error.description, L"disk full");
    EXPECT_EQ(as<ISupportErrorInfo>(response.get(), IID_ISupportErrorInfo)->InterfaceSupportsErrorInfo(IID_IResponse),
              S_OK);

    EXPECT_EQ(write(L"kept"), S_OK);
    EXPECT_EQ(body_of(page.get()), L"kept");
    EXPECT_THAT(calls_of(page.get()), ElementsAre(L"ContentType=text/plain", L"Write failed", L"Write"));
}

TEST_F(AspHost, FailNextWithAnObjectNameFailsOnlyThatObjectsMember)
{
    page->FailNext(Bstr(L"Form.Item").get(), E_ACCESSDENIED, Bstr(L"no form").get());
    query_values(L"d");  // the query string's Item is not the form's

    ComPtr<IRequestDictionary> form;
    request->get_Form(form.put());
    Variant values;
    const Error error = error_of(form->get_Item(*text(L"d").get(), values.put()));
    EXPECT_EQ(error.number, E_ACCESSDENIED);
    EXPECT_EQ(error.source, L"Form object");

    page->FailNext(Bstr(L"Context.Response").get(), E_FAIL, Bstr(L"no response").get());
    ComPtr<IResponse> again;
    EXPECT_EQ(context->get_Response(again.put()), E_FAIL);
    EXPECT_THAT(calls_of(page.get()), IsEmpty());
}

TEST_F(AspHost, LateBoundContextOffersThePageObjectsOnlyByName)
{
    ComPtr<IDispatch> late_bound;
    ASSERT_EQ(page->get_LateBoundContext(late_bound.put()), S_OK);
    ComPtr<IScriptingContext> refused;
    EXPECT_EQ(late_bound->QueryInterface(IID_IScriptingContext, reinterpret_cast<void**>(refused.put())),
              E_NOINTERFACE);

    Bstr name(L"response");
    LPOLESTR names[] = {name.get()};
    DISPID id = DISPID_UNKNOWN;
    ASSERT_EQ(late_bound->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    Variant object;
    ASSERT_EQ(late_bound->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, object.put(),
                                 nullptr, nullptr),
              S_OK);
    ASSERT_EQ(V_VT(object.get()), VT_DISPATCH);
    as<IResponse>(V_DISPATCH(object.get()), IID_IResponse)->Write(*text(L"through the name").get());
    EXPECT_EQ(body_of(page.get()), L"through the name");
}

}  // namespace
}  // namespace corvane::asp_host
