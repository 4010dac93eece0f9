// Clients built before _FTP2 and _HTTP2 existed. An early-bound one was
// compiled against the interfaces as first published
// (tests/compat/first_published.idl):
// it creates the class by id, asks for the old interface id and calls
// through the vtable, so a member moved to another slot or an interface id
// that changed breaks it. Others find the old interfaces through the type
// library, which must still describe them as they were.

#include <winsock2.h>
#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>
#include <wrl/client.h>

#include "first_published.h"
#include "tests/integration/automation.h"
#include "tests/integration/loopback_servers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace corvane::integration {
namespace {

using Microsoft::WRL::ComPtr;
using ::testing::Contains;
using ::testing::ElementsAreArray;

// _HTTP2, published with type library 1.1, and _FTP2, with 1.2.
constexpr IID second_http_interface = {0x8cf78d15, 0x5304, 0x49be, {0xaf, 0x35, 0x3e, 0xd0, 0x57, 0xa7, 0x8a, 0x37}};
constexpr IID second_ftp_interface = {0x3e0b6c51, 0x7a2d, 0x4f8e, {0x9c, 0x14, 0x58, 0xd2, 0xb7, 0xa9, 0x0f, 0x63}};

// IUnknown and IDispatch come first in every dual interface's vtable.
constexpr unsigned dispatch_slots = 7;

struct Member {
    const char* name;
    INVOKEKIND kind;
    DISPID id;
    short parameters;  // the retval counted
};

struct FrozenInterface {
    const char* name;
    const IID* id;
    std::vector<Member> members;  // in slot order
};

// Type library 1.0 as published.
const std::vector<FrozenInterface>& frozen_interfaces()
{
    constexpr INVOKEKIND get = INVOKE_PROPERTYGET;
    constexpr INVOKEKIND put = INVOKE_PROPERTYPUT;
    constexpr INVOKEKIND method = INVOKE_FUNC;
    static const std::vector<FrozenInterface> interfaces{
        {"_FTP",
         &IID__FTP,
         {{"OnStartPage", method, 0x6003000a, 2},
          {"Version", get, 0x68030008, 1},
          {"URL", put, 0x68030007, 1},
          {"URL", get, 0x68030007, 1},
          {"Username", put, 0x68030006, 1},
          {"Username", get, 0x68030006, 1},
          {"Password", put, 0x68030005, 1},
          {"Password", get, 0x68030005, 1},
          {"Port", put, 0x68030004, 1},
          {"Port", get, 0x68030004, 1},
          {"Proxy", put, 0x68030003, 1},
          {"Proxy", get, 0x68030003, 1},
          {"Passive", put, 0x68030002, 1},
          {"Passive", get, 0x68030002, 1},
          {"TransferType", put, 0x68030001, 1},
          {"OpenConnection", method, 0x6003000d, 0},
          {"CloseConnection", method, 0x6003000e, 0},
          {"PrintClient", method, 0x6003000f, 0},
          {"DownloadFileToClient", method, 0x60030010, 1},
          {"ExecuteCommand", method, 0x60030013, 3},
          {"GetLastResponse", method, 0x60030014, 1},
          {"Directory", get, 0x68030000, 1},
          {"Directory", put, 0x68030000, 1},
          {"Files", method, 0x60030015, 1},
          {"GetDirectoryListing", method, 0x60030016, 2},
          {"CreateDirectory", method, 0x60030017, 1},
          {"RemoveDirectory", method, 0x60030018, 1},
          {"RenameFile", method, 0x60030019, 2},
          {"GetDirectory", method, 0x6003001a, 4},
          {"PutDirectory", method, 0x6003001b, 3},
          {"GetFile", method, 0x6003001c, 3},
          {"PutFile", method, 0x6003001d, 2},
          {"DeleteFile", method, 0x6003001e, 1}}},
        {"_FTPFile",
         &IID__FTPFile,
         {{"ID", get, 0x68030006, 1},
          {"ID", put, 0x68030006, 1},
          {"Filename", put, 0x68030005, 1},
          {"Filename", get, 0x68030005, 1},
          {"FileType", put, 0x68030004, 1},
          {"FileType", get, 0x68030004, 1},
          {"FileSize", put, 0x68030003, 1},
          {"FileSize", get, 0x68030003, 1},
          {"LastAccessTime", put, 0x68030002, 1},
          {"LastAccessTime", get, 0x68030002, 1},
          {"LastWriteTime", put, 0x68030001, 1},
          {"LastWriteTime", get, 0x68030001, 1},
          {"CreationTime", put, 0x68030000, 1},
          {"CreationTime", get, 0x68030000, 1}}},
        {"_FTPFiles",
         &IID__FTPFiles,
         {{"Count", method, 0x60030002, 1}, {"Item", method, 0, 2}, {"NewEnum", method, DISPID_NEWENUM, 1}}},
        {"_HTTP",
         &IID__HTTP,
         {{"URL", put, 0x68030005, 1},
          {"ServerName", get, 0x68030004, 1},
          {"Path", get, 0x68030003, 1},
          {"Version", get, 0x68030002, 1},
          {"Content", get, 0x68030001, 1},
          {"Headers", get, 0x68030000, 1},
          {"OpenConnection", method, 0x60030008, 0}}},
        {"_HTTPHeader",
         &IID__HTTPHeader,
         {{"ID", get, 0x68030001, 1},
          {"ID", put, 0x68030001, 1},
          {"Name", get, 0x68030000, 1},
          {"Name", put, 0x68030000, 1},
          {"Value", get, 0, 1},
          {"Value", put, 0, 1}}},
        {"_HTTPHeaders",
         &IID__HTTPHeaders,
         {{"Count", method, 0x60030002, 1}, {"Item", method, 0, 2}, {"NewEnum", method, DISPID_NEWENUM, 1}}},
    };
    return interfaces;
}

std::string slot_text(const std::string& name, INVOKEKIND kind, DISPID id, short parameters, unsigned slot)
{
    const char* kind_text = kind == INVOKE_PROPERTYGET ? "get" : kind == INVOKE_PROPERTYPUT ? "put" : "method";
    char text[160];
    std::snprintf(text, sizeof text, "slot %u: %s %s id %lx, %d parameter(s)", slot, name.c_str(), kind_text,
                  static_cast<unsigned long>(id), parameters);
    return text;
}

std::vector<std::string> expected_slots(const FrozenInterface& frozen, unsigned first_slot = dispatch_slots)
{
    std::vector<std::string> slots;
    unsigned slot = first_slot;
    for (const Member& member : frozen.members)
        slots.push_back(slot_text(member.name, member.kind, member.id, member.parameters, slot++));
    return slots;
}

std::string narrow(const std::wstring& wide)
{
    std::string text;
    for (wchar_t character : wide)
        text += character < 128 ? static_cast<char>(character) : '?';
    return text;
}

std::string narrow_name(BSTR name)
{
    return narrow(name ? std::wstring(name, SysStringLen(name)) : std::wstring());
}

std::vector<std::string> in_lower_case(std::vector<std::string> lines)
{
    for (std::string& line : lines)
        for (char& character : line)
            character = static_cast<char>(std::tolower(static_cast<unsigned char>(character)));
    return lines;
}

// The vtable side of a dual interface; null when the library lacks it.
ComPtr<ITypeInfo> vtable_view(ITypeLib* library, REFIID interface_id)
{
    ComPtr<ITypeInfo> dispatch_view;
    ComPtr<ITypeInfo> view;
    HREFTYPE reference = 0;
    if (FAILED(library->GetTypeInfoOfGuid(interface_id, &dispatch_view)) ||
        FAILED(dispatch_view->GetRefTypeOfImplType(static_cast<UINT>(-1), &reference)) ||
        FAILED(dispatch_view->GetRefTypeInfo(reference, &view)))
        return nullptr;
    return view;
}

// An interface's own members as the library lays them out.
std::vector<std::string> slots_of(ITypeLib* library, REFIID interface_id)
{
    std::vector<std::string> slots;
    ComPtr<ITypeInfo> info = vtable_view(library, interface_id);
    if (!info)
        return {"no dual interface of that id"};
    TYPEATTR* attributes = nullptr;
    if (FAILED(info->GetTypeAttr(&attributes)))
        return {"no type attributes"};
    const UINT count = attributes->cFuncs;
    info->ReleaseTypeAttr(attributes);
    for (UINT index = 0; index < count; ++index) {
        FUNCDESC* function = nullptr;
        if (FAILED(info->GetFuncDesc(index, &function))) {
            slots.push_back("no function " + std::to_string(index));
            continue;
        }
        BSTR name = nullptr;
        info->GetDocumentation(function->memid, &name, nullptr, nullptr, nullptr);
        slots.push_back(slot_text(narrow_name(name), function->invkind, function->memid, function->cParams,
                                  static_cast<unsigned>(function->oVft / static_cast<short>(sizeof(void*)))));
        SysFreeString(name);
        info->ReleaseFuncDesc(function);
    }
    return slots;
}

// The type library embedded in the module whose code serves `object`.
ComPtr<ITypeLib> library_serving(IUnknown* object, std::wstring* module_path = nullptr)
{
    HMODULE module = nullptr;
    const void* vtable = *reinterpret_cast<void* const*>(object);
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(vtable), &module))
        return nullptr;
    wchar_t path[MAX_PATH] = {};
    if (GetModuleFileNameW(module, path, MAX_PATH) == 0)
        return nullptr;
    if (module_path)
        *module_path = path;
    ComPtr<ITypeLib> library;
    if (FAILED(LoadTypeLibEx(path, REGKIND_NONE, &library)))
        return nullptr;
    return library;
}

std::wstring take_text(BSTR text)
{
    std::wstring result = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return result;
}

std::wstring take_text(VARIANT& value)
{
    std::wstring result = V_VT(&value) == VT_BSTR ? take_text(V_BSTR(&value)) : L"<not text>";
    if (V_VT(&value) == VT_BSTR)
        V_VT(&value) = VT_EMPTY;
    VariantClear(&value);
    return result;
}

std::string response(const std::vector<std::string>& headers, const std::string& body)
{
    std::string text = "HTTP/1.1 200 OK\r\n";
    for (const std::string& header : headers)
        text += header + "\r\n";
    text += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    return text + body;
}

class PublishedTypeLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        ComPtr<IUnknown> object;
        ASSERT_EQ(CoCreateInstance(CLSID_HTTP, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object), S_OK);
        library = library_serving(object.Get(), &module_path);
        ASSERT_TRUE(library) << "no type library in the module serving the HTTP class";
    }

    ComPtr<ITypeLib> library;
    std::wstring module_path;
};

TEST_F(PublishedTypeLibrary, FirstPublishedInterfacesKeepTheirIdsAndSlots)
{
    for (const FrozenInterface& frozen : frozen_interfaces()) {
        EXPECT_THAT(slots_of(library.Get(), *frozen.id), ElementsAreArray(expected_slots(frozen))) << frozen.name;

        ComPtr<ITypeInfo> info = vtable_view(library.Get(), *frozen.id);
        ASSERT_TRUE(info) << frozen.name;
        BSTR name = nullptr;
        info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
        EXPECT_EQ(narrow_name(name), frozen.name);
        SysFreeString(name);
        HREFTYPE reference = 0;
        ComPtr<ITypeInfo> base;
        TYPEATTR* attributes = nullptr;
        ASSERT_EQ(info->GetRefTypeOfImplType(0, &reference), S_OK) << frozen.name;
        ASSERT_EQ(info->GetRefTypeInfo(reference, &base), S_OK) << frozen.name;
        ASSERT_EQ(base->GetTypeAttr(&attributes), S_OK);
        EXPECT_TRUE(IsEqualGUID(attributes->guid, IID_IDispatch)) << frozen.name << " derives from IDispatch";
        base->ReleaseTypeAttr(attributes);
    }
}

// Each class's second interface, the first it extends and the dispatch ids
// it owns.
struct SecondInterface {
    const char* name;
    const IID* id;
    const char* first_name;
    const IID* first_id;
    const CLSID* class_id;
    DISPID lowest;
    DISPID highest;
};

const SecondInterface second_interfaces[] = {
    {"_FTP2", &second_ftp_interface, "_FTP", &IID__FTP, &CLSID_FTP, 0x201, 0x2ff},
    {"_HTTP2", &second_http_interface, "_HTTP", &IID__HTTP, &CLSID_HTTP, 0x101, 0x1ff},
};

// _FTP2 and _HTTP2 as released with corvane 1.0.0: later members go to new
// derived interfaces, never here.
const std::vector<FrozenInterface>& released_second_interfaces()
{
    constexpr INVOKEKIND get = INVOKE_PROPERTYGET;
    constexpr INVOKEKIND put = INVOKE_PROPERTYPUT;
    constexpr INVOKEKIND method = INVOKE_FUNC;
    static const std::vector<FrozenInterface> interfaces{
        {"_FTP2",
         &second_ftp_interface,
         {{"Timeout", get, 0x201, 1}, {"Timeout", put, 0x201, 1}, {"LastReplyCode", get, 0x202, 1},
          {"RemoteFileSize", method, 0x203, 2}, {"ResumeFile", method, 0x204, 2},
          {"ResumePutFile", method, 0x205, 2}, {"UTF8", get, 0x206, 1}, {"UTF8", put, 0x206, 1},
          {"BytesTransferred", get, 0x207, 1}, {"Engine", get, 0x208, 1}, {"Engine", put, 0x208, 1},
          {"TrustPassiveAddress", get, 0x209, 1}, {"TrustPassiveAddress", put, 0x209, 1},
          {"Security", get, 0x20a, 1}, {"Security", put, 0x20a, 1}, {"IgnoreCertificateErrors", get, 0x20b, 1},
          {"IgnoreCertificateErrors", put, 0x20b, 1}}},
        {"_HTTP2",
         &second_http_interface,
         {{"StatusCode", get, 0x101, 1}, {"StatusText", get, 0x102, 1}, {"Method", get, 0x103, 1},
          {"Method", put, 0x103, 1}, {"RequestBody", get, 0x104, 1}, {"RequestBody", put, 0x104, 1},
          {"SetRequestHeader", method, 0x105, 2}, {"ClearRequestHeaders", method, 0x106, 0},
          {"Timeout", get, 0x107, 1}, {"Timeout", put, 0x107, 1}, {"ResponseBody", get, 0x108, 1},
          {"SaveToFile", method, 0x109, 1}, {"Charset", get, 0x10a, 1}, {"Charset", put, 0x10a, 1},
          {"FollowRedirects", get, 0x10b, 1}, {"FollowRedirects", put, 0x10b, 1}, {"FinalURL", get, 0x10c, 1},
          {"Username", get, 0x10d, 1}, {"Username", put, 0x10d, 1}, {"Password", get, 0x10e, 1},
          {"Password", put, 0x10e, 1}, {"Proxy", get, 0x10f, 1}, {"Proxy", put, 0x10f, 1},
          {"ProxyUsername", get, 0x110, 1}, {"ProxyUsername", put, 0x110, 1}, {"ProxyPassword", get, 0x111, 1},
          {"ProxyPassword", put, 0x111, 1}, {"IgnoreCertificateErrors", get, 0x112, 1},
          {"IgnoreCertificateErrors", put, 0x112, 1}, {"Reset", method, 0x113, 0},
          {"MaxResponseSize", get, 0x114, 1}, {"MaxResponseSize", put, 0x114, 1}}},
    };
    return interfaces;
}

const FrozenInterface* frozen_interface(const IID& id)
{
    for (const FrozenInterface& frozen : frozen_interfaces())
        if (IsEqualGUID(*frozen.id, id))
            return &frozen;
    return nullptr;
}

TEST_F(PublishedTypeLibrary, SecondInterfacesExtendTheFirst)
{
    for (const SecondInterface& second : second_interfaces) {
        SCOPED_TRACE(second.name);
        ComPtr<ITypeInfo> info = vtable_view(library.Get(), *second.id);
        ASSERT_TRUE(info) << "no dual " << second.name;
        HREFTYPE reference = 0;
        ComPtr<ITypeInfo> base;
        TYPEATTR* attributes = nullptr;
        ASSERT_EQ(info->GetRefTypeOfImplType(0, &reference), S_OK);
        ASSERT_EQ(info->GetRefTypeInfo(reference, &base), S_OK);
        ASSERT_EQ(base->GetTypeAttr(&attributes), S_OK);
        EXPECT_TRUE(IsEqualGUID(attributes->guid, *second.first_id)) << "derives from " << second.first_name;
        base->ReleaseTypeAttr(attributes);

        // Its members come after the old ones, with dispatch ids of their own.
        const FrozenInterface* first = frozen_interface(*second.first_id);
        ASSERT_TRUE(first);
        ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
        const UINT count = attributes->cFuncs;
        info->ReleaseTypeAttr(attributes);
        EXPECT_GT(count, 0u);
        const unsigned first_own_slot = dispatch_slots + static_cast<unsigned>(first->members.size());
        for (UINT index = 0; index < count; ++index) {
            FUNCDESC* function = nullptr;
            ASSERT_EQ(info->GetFuncDesc(index, &function), S_OK);
            EXPECT_EQ(static_cast<unsigned>(function->oVft) / sizeof(void*), first_own_slot + index);
            EXPECT_GE(function->memid, second.lowest) << "member " << index;
            EXPECT_LE(function->memid, second.highest) << "member " << index;
            info->ReleaseFuncDesc(function);
        }
    }
}

TEST_F(PublishedTypeLibrary, SecondInterfacesAreAsReleased)
{
    for (size_t index = 0; index < std::size(second_interfaces); ++index) {
        const FrozenInterface& released = released_second_interfaces()[index];
        const FrozenInterface* first = frozen_interface(*second_interfaces[index].first_id);
        ASSERT_TRUE(first);
        const unsigned first_own_slot = dispatch_slots + static_cast<unsigned>(first->members.size());
        EXPECT_THAT(slots_of(library.Get(), *released.id), ElementsAreArray(expected_slots(released, first_own_slot)))
            << released.name;
    }
}

TEST_F(PublishedTypeLibrary, SameLibraryIdNewerMinorVersion)
{
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, LIBID_corvane));
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    EXPECT_EQ(attributes->wMinorVerNum, 2);
    EXPECT_EQ(attributes->lcid, 1033u);
    library->ReleaseTLibAttr(attributes);
}

TEST_F(PublishedTypeLibrary, ClassDefaultIsTheSecondInterfaceAndTheFirstStaysListed)
{
    for (const SecondInterface& second : second_interfaces) {
        SCOPED_TRACE(second.name);
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(library->GetTypeInfoOfGuid(*second.class_id, &info), S_OK);
        TYPEATTR* attributes = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
        const TYPEKIND kind = attributes->typekind;
        const UINT count = attributes->cImplTypes;
        info->ReleaseTypeAttr(attributes);
        ASSERT_EQ(kind, TKIND_COCLASS);

        std::vector<std::string> listed;
        for (UINT index = 0; index < count; ++index) {
            INT flags = 0;
            HREFTYPE reference = 0;
            ComPtr<ITypeInfo> implemented;
            ASSERT_EQ(info->GetImplTypeFlags(index, &flags), S_OK);
            ASSERT_EQ(info->GetRefTypeOfImplType(index, &reference), S_OK);
            ASSERT_EQ(info->GetRefTypeInfo(reference, &implemented), S_OK);
            BSTR name = nullptr;
            implemented->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
            const bool is_default = (flags & IMPLTYPEFLAG_FDEFAULT) && !(flags & IMPLTYPEFLAG_FSOURCE);
            listed.push_back(narrow_name(name) + (is_default ? " (default)" : ""));
            SysFreeString(name);
        }
        EXPECT_THAT(listed, Contains(std::string(second.name) + " (default)"));
        EXPECT_THAT(listed, Contains(second.first_name));
    }
}

// A client that loads the library it was built with by its registered
// version gets the current one, from this module.
TEST_F(PublishedTypeLibrary, RegisteredLibraryAnswersARequestForTheFirstVersion)
{
    ComPtr<ITypeLib> registered;
    ASSERT_EQ(LoadRegTypeLib(LIBID_corvane, 1, 0, 1033, &registered), S_OK);
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(registered->GetLibAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->wMinorVerNum, 2);
    registered->ReleaseTLibAttr(attributes);

    BSTR path = nullptr;
    ASSERT_EQ(QueryPathOfRegTypeLib(LIBID_corvane, 1, 0, 1033, &path), S_OK);
    const std::wstring registered_path = take_text(path);
    EXPECT_EQ(CompareStringOrdinal(registered_path.c_str(), -1, module_path.c_str(), -1, TRUE), CSTR_EQUAL)
        << "registered for 1.0: " << narrow(registered_path);
}

class OldEarlyBoundClient : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new LoopbackServer(LoopbackServer::start_http()); }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }

    void SetUp() override
    {
        ASSERT_EQ(CoCreateInstance(CLSID_HTTP, nullptr, CLSCTX_INPROC_SERVER, IID__HTTP, &http), S_OK);
        ASSERT_TRUE(http);
        // A member in another slot would be called with the wrong arguments:
        // nothing is called through the vtable unless every slot is in place.
        ComPtr<ITypeLib> library = library_serving(http.Get());
        ASSERT_TRUE(library);
        // The spelling of a name does not matter to a vtable call.
        for (const FrozenInterface& frozen : frozen_interfaces())
            ASSERT_EQ(in_lower_case(slots_of(library.Get(), *frozen.id)), in_lower_case(expected_slots(frozen)))
                << frozen.name;
    }

    std::wstring url(const std::string& target) const
    {
        return L"http://127.0.0.1:" + std::to_wstring(server->port()) + std::wstring(target.begin(), target.end());
    }

    void fetch(const std::string& target)
    {
        BSTR text = SysAllocString(url(target).c_str());
        EXPECT_EQ(http->put_URL(text), S_OK);
        SysFreeString(text);
        ASSERT_EQ(http->OpenConnection(), S_OK);
    }

    static LoopbackServer* server;
    ComPtr<_HTTP> http;
};

LoopbackServer* OldEarlyBoundClient::server = nullptr;

TEST_F(OldEarlyBoundClient, PropertiesThroughTheVtableMatchTheSameByName)
{
    const std::string body = "a body for a client built against the first interfaces";
    server->route("/old-client", response({"X-First: one"}, body));
    ASSERT_NO_FATAL_FAILURE(fetch("/old-client"));

    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(http.As(&dispatch), S_OK);

    struct Property {
        const wchar_t* name;
        DISPID id;
        std::function<std::wstring()> through_vtable;
        std::wstring expected;  // empty: only the same both ways
    };
    const std::wstring server_name = L"127.0.0.1:" + std::to_wstring(server->port());
    const std::vector<Property> properties{
        {L"Content", 0x68030001,
         [&] {
             BSTR text = nullptr;
             EXPECT_EQ(http->get_Content(&text), S_OK);
             return take_text(text);
         },
         std::wstring(body.begin(), body.end())},
        {L"ServerName", 0x68030004,
         [&] {
             VARIANT value;
             VariantInit(&value);
             EXPECT_EQ(http->get_ServerName(&value), S_OK);
             return take_text(value);
         },
         server_name},
        {L"Path", 0x68030003,
         [&] {
             VARIANT value;
             VariantInit(&value);
             EXPECT_EQ(http->get_Path(&value), S_OK);
             return take_text(value);
         },
         L"/old-client"},
        {L"Version", 0x68030002,
         [&] {
             VARIANT value;
             VariantInit(&value);
             EXPECT_EQ(http->get_Version(&value), S_OK);
             return take_text(value);
         },
         L""},
    };
    for (const Property& property : properties) {
        SCOPED_TRACE(narrow(property.name));
        const std::wstring early = property.through_vtable();
        if (!property.expected.empty()) {
            EXPECT_EQ(early, property.expected);
        }
        EXPECT_FALSE(early.empty());

        DISPID id = DISPID_UNKNOWN;
        LPOLESTR names[] = {const_cast<LPOLESTR>(property.name)};
        ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
        EXPECT_EQ(id, property.id);
        DISPPARAMS none{};
        VARIANT late;
        VariantInit(&late);
        ASSERT_EQ(dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &late, nullptr,
                                   nullptr),
                  S_OK);
        EXPECT_EQ(take_text(late), early);
    }
}

TEST_F(OldEarlyBoundClient, HeadersThroughTheOldCollectionInterfaces)
{
    server->route("/old-headers", response({"X-First: one", "X-Second: two"}, "body"));
    ASSERT_NO_FATAL_FAILURE(fetch("/old-headers"));

    ComPtr<_HTTPHeaders> headers;
    ASSERT_EQ(http->get_Headers(&headers), S_OK);
    ASSERT_TRUE(headers);
    ComPtr<_HTTPHeaders> asked_by_old_id;
    EXPECT_EQ(headers.As(&asked_by_old_id), S_OK);
    long count = 0;
    ASSERT_EQ(headers->Count(&count), S_OK);
    EXPECT_GE(count, 4);  // the two above, Content-Length, Connection

    struct Lookup {
        VARIANT index;
        std::wstring expected;
    };
    VARIANT by_name;
    V_VT(&by_name) = VT_BSTR;
    V_BSTR(&by_name) = SysAllocString(L"x-second");
    VARIANT by_position;
    V_VT(&by_position) = VT_I4;
    V_I4(&by_position) = 1;
    for (Lookup lookup : {Lookup{by_name, L" two"}, Lookup{by_position, L" one"}}) {
        BSTR value = nullptr;
        EXPECT_EQ(headers->Item(lookup.index, &value), S_OK);
        EXPECT_EQ(take_text(value), lookup.expected);
    }
    VariantClear(&by_name);

    ComPtr<IUnknown> enumerator_object;
    ASSERT_EQ(headers->NewEnum(&enumerator_object), S_OK);
    ComPtr<IEnumVARIANT> enumerator;
    ASSERT_EQ(enumerator_object.As(&enumerator), S_OK);
    std::vector<std::wstring> lines;
    for (long step = 0; step <= count; ++step) {
        VARIANT entry;
        VariantInit(&entry);
        ULONG fetched = 0;
        if (enumerator->Next(1, &entry, &fetched) != S_OK || fetched != 1)
            break;
        ComPtr<_HTTPHeader> header;
        if (V_VT(&entry) == VT_DISPATCH && V_DISPATCH(&entry))
            V_DISPATCH(&entry)->QueryInterface(IID__HTTPHeader, &header);
        VariantClear(&entry);
        ASSERT_TRUE(header) << "entry " << step << " is no _HTTPHeader";
        BSTR name = nullptr;
        BSTR value = nullptr;
        EXPECT_EQ(header->get_Name(&name), S_OK);
        EXPECT_EQ(header->get_Value(&value), S_OK);
        lines.push_back(take_text(name) + L":" + take_text(value));
    }
    EXPECT_EQ(lines.size(), static_cast<size_t>(count));
    EXPECT_THAT(lines, Contains(L"X-First: one"));
    EXPECT_THAT(lines, Contains(L"X-Second: two"));
}

TEST_F(OldEarlyBoundClient, FailureReachesItThroughErrorInfo)
{
    ComPtr<ISupportErrorInfo> supports;
    ASSERT_EQ(http.As(&supports), S_OK);
    EXPECT_EQ(supports->InterfaceSupportsErrorInfo(IID__HTTP), S_OK);

    SetErrorInfo(0, nullptr);
    EXPECT_EQ(http->OpenConnection(), static_cast<HRESULT>(0x800403ECL));
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    ASSERT_TRUE(info);
    BSTR text = nullptr;
    ASSERT_EQ(info->GetSource(&text), S_OK);
    EXPECT_EQ(take_text(text), L"Corvane.HTTP");
    ASSERT_EQ(info->GetDescription(&text), S_OK);
    EXPECT_EQ(take_text(text), L"No URL set.  Please ensure that the URL property is set.");
}

class OldEarlyBoundFtpClient : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new LoopbackServer(LoopbackServer::start_ftp()); }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }

    void SetUp() override
    {
        ASSERT_EQ(CoCreateInstance(CLSID_FTP, nullptr, CLSCTX_INPROC_SERVER, IID__FTP, &ftp), S_OK);
        ASSERT_TRUE(ftp);
        use_engine_of_run(Automation(ftp.Get()));
        ComPtr<ITypeLib> library = library_serving(ftp.Get());
        ASSERT_TRUE(library);
        for (const FrozenInterface& frozen : frozen_interfaces())
            ASSERT_EQ(in_lower_case(slots_of(library.Get(), *frozen.id)), in_lower_case(expected_slots(frozen)))
                << frozen.name;
    }

    void TearDown() override
    {
        if (ftp)
            ftp->CloseConnection();
    }

    static VARIANT text(const std::wstring& value)
    {
        VARIANT variant;
        V_VT(&variant) = VT_BSTR;
        V_BSTR(&variant) = SysAllocString(value.c_str());
        return variant;
    }

    void set(HRESULT (STDMETHODCALLTYPE _FTP::*setter)(VARIANT), const std::wstring& value)
    {
        VARIANT variant = text(value);
        EXPECT_EQ((ftp.Get()->*setter)(variant), S_OK);
        VariantClear(&variant);
    }

    void connect()
    {
        set(&_FTP::put_URL, L"127.0.0.1");
        set(&_FTP::put_Username, L"tester");
        set(&_FTP::put_Password, L"secret");
        ASSERT_EQ(ftp->put_Port(server->port()), S_OK);
        ASSERT_EQ(ftp->put_TransferType(TransferBinary), S_OK);
        ASSERT_EQ(ftp->OpenConnection(), S_OK);
    }

    static LoopbackServer* server;
    ComPtr<_FTP> ftp;
};

LoopbackServer* OldEarlyBoundFtpClient::server = nullptr;

TEST_F(OldEarlyBoundFtpClient, ListsAndFetchesThroughTheVtable)
{
    const std::filesystem::path root(server->root_windows());
    const std::string bytes = std::string("early\0bound\r\n", 13) + std::string(3000, '\xff');
    {
        std::ofstream file(root / "early.bin", std::ios::binary);
        file << bytes;
    }
    ASSERT_NO_FATAL_FAILURE(connect());

    VARIANT directory;
    VariantInit(&directory);
    ASSERT_EQ(ftp->get_Directory(&directory), S_OK);
    EXPECT_EQ(take_text(directory), L"/");

    ComPtr<_FTPFiles> files;
    ASSERT_EQ(ftp->Files(&files), S_OK);
    ASSERT_TRUE(files);
    long count = 0;
    ASSERT_EQ(files->Count(&count), S_OK);
    std::vector<std::wstring> names;
    for (long position = 1; position <= count; ++position) {
        VARIANT index;
        V_VT(&index) = VT_I4;
        V_I4(&index) = position;
        ComPtr<_FTPFile> file;
        ASSERT_EQ(files->Item(index, &file), S_OK);
        ASSERT_TRUE(file);
        BSTR name = nullptr;
        ASSERT_EQ(file->get_Filename(&name), S_OK);
        VARIANT size;
        VariantInit(&size);
        ASSERT_EQ(file->get_FileSize(&size), S_OK);
        ASSERT_EQ(VariantChangeType(&size, &size, 0, VT_I4), S_OK);
        names.push_back(take_text(name) + L" " + std::to_wstring(V_I4(&size)));
    }
    EXPECT_THAT(names, Contains(L"early.bin " + std::to_wstring(bytes.size())));

    const std::filesystem::path local = root.parent_path() / (root.filename().wstring() + L"-early-copy.bin");
    std::filesystem::remove(local);
    VARIANT remote = text(L"early.bin");
    VARIANT local_path = text(local.wstring());
    EXPECT_EQ(ftp->GetFile(remote, local_path, VARIANT_TRUE), S_OK);
    VariantClear(&remote);
    VariantClear(&local_path);
    std::ifstream copy(local, std::ios::binary);
    const std::string copied((std::istreambuf_iterator<char>(copy)), std::istreambuf_iterator<char>());
    copy.close();
    std::filesystem::remove(local);
    EXPECT_EQ(copied, bytes);
}

TEST_F(OldEarlyBoundFtpClient, FailureReachesItThroughErrorInfo)
{
    ComPtr<ISupportErrorInfo> supports;
    ASSERT_EQ(ftp.As(&supports), S_OK);
    EXPECT_EQ(supports->InterfaceSupportsErrorInfo(IID__FTP), S_OK);

    SetErrorInfo(0, nullptr);
    EXPECT_EQ(ftp->OpenConnection(), static_cast<HRESULT>(0x8004020BL));
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    ASSERT_TRUE(info);
    BSTR text = nullptr;
    ASSERT_EQ(info->GetSource(&text), S_OK);
    EXPECT_EQ(take_text(text), L"Corvane.FTP");
    ASSERT_EQ(info->GetDescription(&text), S_OK);
    EXPECT_EQ(take_text(text), L"Needed Property not set.  URL");
}

}  // namespace
}  // namespace corvane::integration
