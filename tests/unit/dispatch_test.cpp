// The frame as an automation client sees it: the embedded type library,
// late-bound calls through IDispatch, errors delivered with their number,
// source and description, and exact reference counts.

#include "component/classes.h"
#include "frame/class_factory.h"
#include "frame/dispatch.h"
#include "frame/error.h"
#include "component/interfaces.h"
#include "frame/type_library.h"
#include "frame/text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace corvane {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::UnorderedElementsAre;

ComPtr<ITypeLib> embedded_library()
{
    ComPtr<ITypeLib> library;
    EXPECT_EQ(LoadTypeLibEx(module_path().c_str(), REGKIND_NONE, library.put()), S_OK);
    return library;
}

// "Name kind dispid" per vtable slot of a dual interface's own members.
std::vector<std::string> slots_of(REFIID interface_id)
{
    // A failed step leaves no slots, which the caller's match reports.
    ComPtr<ITypeInfo> dispatch_view;
    HREFTYPE vtable_reference = 0;
    ComPtr<ITypeInfo> info;
    if (embedded_library()->GetTypeInfoOfGuid(interface_id, dispatch_view.put()) != S_OK ||
        dispatch_view->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtable_reference) != S_OK ||
        dispatch_view->GetRefTypeInfo(vtable_reference, info.put()) != S_OK) {
        ADD_FAILURE() << "no type information for the interface";
        return {};
    }

    TYPEATTR* attributes = nullptr;
    info->GetTypeAttr(&attributes);
    std::vector<std::string> slots;
    for (UINT index = 0; index < attributes->cFuncs; ++index) {
        FUNCDESC* function = nullptr;
        info->GetFuncDesc(index, &function);
        Bstr name;
        info->GetDocumentation(function->memid, name.put(), nullptr, nullptr, nullptr);
        const char* kind = function->invkind == INVOKE_PROPERTYGET   ? "get"
                           : function->invkind == INVOKE_PROPERTYPUT ? "let"
                                                                     : "method";
        char dispatch_id[16];
        std::snprintf(dispatch_id, sizeof dispatch_id, "%lx", static_cast<unsigned long>(function->memid));
        std::string text(name.view().begin(), name.view().end());
        slots.push_back(text + " " + kind + " " + dispatch_id);
        info->ReleaseFuncDesc(function);
    }
    info->ReleaseTypeAttr(attributes);
    return slots;
}

TEST(TypeLibrary, FTPMembersInSlotOrderWithTheirKindsAndDispatchIds)
{
    EXPECT_THAT(slots_of(__uuidof(_FTP)),
                ElementsAreArray(std::vector<std::string>{
                    "OnStartPage method 6003000a", "Version get 68030008", "URL let 68030007",
                    "URL get 68030007", "Username let 68030006", "Username get 68030006",
                    "Password let 68030005", "Password get 68030005", "Port let 68030004",
                    "Port get 68030004", "Proxy let 68030003", "Proxy get 68030003",
                    "Passive let 68030002", "Passive get 68030002", "TransferType let 68030001",
                    "OpenConnection method 6003000d", "CloseConnection method 6003000e",
                    "PrintClient method 6003000f", "DownloadFileToClient method 60030010",
                    "ExecuteCommand method 60030013", "GetLastResponse method 60030014",
                    "Directory get 68030000", "Directory let 68030000", "Files method 60030015",
                    "GetDirectoryListing method 60030016", "CreateDirectory method 60030017",
                    "RemoveDirectory method 60030018", "RenameFile method 60030019",
                    "GetDirectory method 6003001a", "PutDirectory method 6003001b", "GetFile method 6003001c",
                    "PutFile method 6003001d", "DeleteFile method 6003001e"}));
}

TEST(TypeLibrary, OtherInterfacesInSlotOrder)
{
    EXPECT_THAT(slots_of(__uuidof(_FTPFile)),
                ElementsAre("ID get 68030006", "ID let 68030006", "Filename let 68030005", "Filename get 68030005",
                            "FileType let 68030004", "FileType get 68030004", "FileSize let 68030003",
                            "FileSize get 68030003", "LastAccessTime let 68030002", "LastAccessTime get 68030002",
                            "LastWriteTime let 68030001", "LastWriteTime get 68030001", "CreationTime let 68030000",
                            "CreationTime get 68030000"));
    EXPECT_THAT(slots_of(__uuidof(_FTPFiles)),
                ElementsAre("Count method 60030002", "Item method 0", "NewEnum method fffffffc"));
    EXPECT_THAT(slots_of(__uuidof(_HTTP)),
                ElementsAre("URL let 68030005", "ServerName get 68030004", "Path get 68030003",
                            "Version get 68030002", "Content get 68030001", "Headers get 68030000",
                            "OpenConnection method 60030008"));
    EXPECT_THAT(slots_of(__uuidof(_HTTPHeader)),
                ElementsAre("ID get 68030001", "ID let 68030001", "Name get 68030000", "Name let 68030000",
                            "Value get 0", "Value let 0"));
    EXPECT_THAT(slots_of(__uuidof(_HTTPHeaders)),
                ElementsAre("Count method 60030002", "Item method 0", "NewEnum method fffffffc"));
}

// Only what _HTTP2 adds: the interface's own functions follow its base's.
TEST(TypeLibrary, SecondHttpInterfaceAddsItsMembersInItsOwnRange)
{
    EXPECT_THAT(slots_of(__uuidof(_HTTP2)),
                ElementsAre("StatusCode get 101", "StatusText get 102", "Method get 103", "Method let 103",
                            "RequestBody get 104", "RequestBody let 104", "SetRequestHeader method 105",
                            "ClearRequestHeaders method 106", "Timeout get 107", "Timeout let 107",
                            "ResponseBody get 108", "SaveToFile method 109", "Charset get 10a", "Charset let 10a",
                            "FollowRedirects get 10b", "FollowRedirects let 10b", "FinalURL get 10c",
                            "Username get 10d", "Username let 10d", "Password get 10e", "Password let 10e",
                            "Proxy get 10f", "Proxy let 10f", "ProxyUsername get 110", "ProxyUsername let 110",
                            "ProxyPassword get 111", "ProxyPassword let 111", "IgnoreCertificateErrors get 112",
                            "IgnoreCertificateErrors let 112", "Reset method 113", "MaxResponseSize get 114",
                            "MaxResponseSize let 114"));
}

TEST(TypeLibrary, SecondFtpInterfaceAddsItsMembersInItsOwnRange)
{
    EXPECT_THAT(slots_of(__uuidof(_FTP2)),
                ElementsAre("Timeout get 201", "Timeout let 201", "LastReplyCode get 202",
                            "RemoteFileSize method 203", "ResumeFile method 204", "ResumePutFile method 205",
                            "UTF8 get 206", "UTF8 let 206", "BytesTransferred get 207", "Engine get 208",
                            "Engine let 208", "TrustPassiveAddress get 209", "TrustPassiveAddress let 209",
                            "Security get 20a", "Security let 20a", "IgnoreCertificateErrors get 20b",
                            "IgnoreCertificateErrors let 20b"));
}

TEST(TypeLibrary, LibraryInterfacesAndEnumerations)
{
    auto library = embedded_library();
    TLIBATTR* library_attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&library_attributes), S_OK);
    EXPECT_EQ(library_attributes->wMajorVerNum, 1);
    EXPECT_EQ(library_attributes->wMinorVerNum, 2);
    EXPECT_EQ(library_attributes->lcid, 1033u);
    library->ReleaseTLibAttr(library_attributes);

    for (REFIID interface_id : {__uuidof(_FTP), __uuidof(_FTP2), __uuidof(_FTPFile), __uuidof(_FTPFiles),
                                __uuidof(_HTTP), __uuidof(_HTTP2), __uuidof(_HTTPHeader), __uuidof(_HTTPHeaders)}) {
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(library->GetTypeInfoOfGuid(interface_id, info.put()), S_OK);
        TYPEATTR* attributes = nullptr;
        info->GetTypeAttr(&attributes);
        const WORD expected = TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
        EXPECT_EQ(attributes->wTypeFlags & expected, expected);
        info->ReleaseTypeAttr(attributes);

        HREFTYPE vtable_reference = 0;
        ASSERT_EQ(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtable_reference), S_OK);
        ComPtr<ITypeInfo> vtable_view;
        ASSERT_EQ(info->GetRefTypeInfo(vtable_reference, vtable_view.put()), S_OK);
        vtable_view->GetTypeAttr(&attributes);
        EXPECT_EQ(attributes->wTypeFlags & (expected | TYPEFLAG_FOLEAUTOMATION), expected | TYPEFLAG_FOLEAUTOMATION);
        vtable_view->ReleaseTypeAttr(attributes);
    }

    // Every constant a script can name, with its value.
    std::vector<std::string> constants;
    for (UINT index = 0; index < library->GetTypeInfoCount(); ++index) {
        ComPtr<ITypeInfo> info;
        library->GetTypeInfo(index, info.put());
        TYPEATTR* attributes = nullptr;
        info->GetTypeAttr(&attributes);
        for (UINT member = 0; attributes->typekind == TKIND_ENUM && member < attributes->cVars; ++member) {
            VARDESC* variable = nullptr;
            info->GetVarDesc(member, &variable);
            Bstr name;
            info->GetDocumentation(variable->memid, name.put(), nullptr, nullptr, nullptr);
            constants.push_back(std::string(name.view().begin(), name.view().end()) + "=" +
                                std::to_string(V_I4(variable->lpvarValue)));
            info->ReleaseVarDesc(variable);
        }
        info->ReleaseTypeAttr(attributes);
    }
    EXPECT_THAT(constants, UnorderedElementsAre("ShowFiles=1", "ShowDirectories=2", "ShowFileSize=4", "ShowLastAccessTime=8",
                                       "ShowLastWriteTime=16", "ShowCreationTime=32", "TransferASCII=1",
                                       "TransferBinary=2", "FTPDirectory=1", "FTPFile=2", "EnginePlatform=1",
                                       "EngineNative=2", "SecurityNone=0", "SecurityExplicit=1",
                                       "SecurityImplicit=2"));
}

std::wstring version_string(const std::vector<BYTE>& block, const wchar_t* name)
{
    wchar_t* value = nullptr;
    UINT length = 0;
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length))
        return L"<missing>";
    return std::wstring(value, length ? length - 1 : 0);
}

TEST(Resources, VersionInformation)
{
    const std::wstring path = module_path();
    DWORD ignored = 0;
    std::vector<BYTE> block(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    ASSERT_FALSE(block.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    // The build's product version, in the numbers and in the texts.
    const DWORD high = (CORVANE_VERSION_MAJOR << 16) | CORVANE_VERSION_MINOR;
    const DWORD low = CORVANE_VERSION_PATCH << 16;
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);
    EXPECT_EQ(version_string(block, L"FileVersion"), CORVANE_VERSION_TEXT);
    EXPECT_EQ(version_string(block, L"ProductVersion"), CORVANE_VERSION_TEXT);
    EXPECT_EQ(version_string(block, L"ProductName"), L"corvane");
    EXPECT_EQ(version_string(block, L"InternalName"), L"corvane");
    EXPECT_EQ(version_string(block, L"OriginalFilename"), L"corvane.dll");
    EXPECT_EQ(version_string(block, L"CompanyName"), L"corvane contributors");
    EXPECT_NE(version_string(block, L"OLESelfRegister"), L"<missing>");
}

ComPtr<IDispatch> create(REFCLSID class_id)
{
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(get_class_object(component_classes(), class_id, IID_IClassFactory, reinterpret_cast<void**>(factory.put())), S_OK);
    ComPtr<IDispatch> object;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(object.put())), S_OK);
    return object;
}

DISPID dispatch_id_of(IDispatch* object, const wchar_t* name)
{
    DISPID id = DISPID_UNKNOWN;
    auto text = const_cast<LPOLESTR>(name);
    const HRESULT result = object->GetIDsOfNames(IID_NULL, &text, 1, LOCALE_USER_DEFAULT, &id);
    return SUCCEEDED(result) ? id : DISPID_UNKNOWN;
}

HRESULT get_property(IDispatch* object, DISPID id, Variant& result, EXCEPINFO* exception = nullptr)
{
    DISPPARAMS no_arguments{};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &no_arguments, result.put(),
                          exception, nullptr);
}

TEST(ClassFactory, CreatesEachClassAndRefusesTheRest)
{
    for (REFCLSID class_id : {CLSID_FTP, CLSID_FTPFile, CLSID_FTPFiles, CLSID_HTTP, CLSID_HTTPHeader,
                              CLSID_HTTPHeaders}) {
        EXPECT_TRUE(create(class_id));
    }

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(get_class_object(component_classes(), CLSID_FTP, IID_IClassFactory, reinterpret_cast<void**>(factory.put())), S_OK);
    ComPtr<IUnknown> object;
    auto outer = reinterpret_cast<IUnknown*>(factory.get());
    EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(object.put())),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPersist, reinterpret_cast<void**>(object.put())),
              E_NOINTERFACE);
    EXPECT_FALSE(object);

    ComPtr<IClassFactory> none;
    EXPECT_EQ(get_class_object(component_classes(), IID_IDispatch, IID_IClassFactory, reinterpret_cast<void**>(none.put())),
              CLASS_E_CLASSNOTAVAILABLE);
}

// Calls, through its vtable slot as a client bound early does, every member
// of the object's dual interfaces that answers through an out-pointer, with
// NULL there and empty values elsewhere; names each on stderr before the
// call, so that a crash names it. The members that did not give E_POINTER.
std::vector<std::string> members_taking_null_out_pointers(IUnknown* object, size_t& called)
{
    std::vector<std::string> wrong;
    auto library = embedded_library();
    for (UINT type = 0; type < library->GetTypeInfoCount(); ++type) {
        ComPtr<ITypeInfo> dispatch_view;
        ComPtr<ITypeInfo> info;
        HREFTYPE vtable_reference = 0;
        TYPEATTR* attributes = nullptr;
        if (library->GetTypeInfo(type, dispatch_view.put()) != S_OK ||
            dispatch_view->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtable_reference) != S_OK ||
            dispatch_view->GetRefTypeInfo(vtable_reference, info.put()) != S_OK ||
            info->GetTypeAttr(&attributes) != S_OK)
            continue;
        ComPtr<IUnknown> view;
        const bool implemented = object->QueryInterface(attributes->guid, reinterpret_cast<void**>(view.put())) == S_OK;
        const WORD functions = attributes->cFuncs;
        info->ReleaseTypeAttr(attributes);
        for (UINT index = 0; implemented && index < functions; ++index) {
            FUNCDESC* function = nullptr;
            info->GetFuncDesc(index, &function);
            std::vector<VARIANTARG> arguments(static_cast<size_t>(function->cParams));
            std::vector<VARTYPE> types;
            std::vector<VARIANTARG*> pointers;
            bool has_out = false;
            for (SHORT parameter = 0; parameter < function->cParams; ++parameter) {
                const ELEMDESC& element = function->lprgelemdescParam[parameter];
                VARIANTARG& argument = arguments[static_cast<size_t>(parameter)];
                VariantInit(&argument);
                has_out = has_out || (element.paramdesc.wParamFlags & PARAMFLAG_FOUT);
                // Everything but a VARIANT by value fits a pointer-sized zero:
                // NULL pointers, 0, False.
                const VARTYPE pointer_sized = sizeof(void*) == 8 ? VT_I8 : VT_I4;
                const bool by_value = element.tdesc.vt == VT_VARIANT;
                V_VT(&argument) = by_value ? VARTYPE{VT_EMPTY} : pointer_sized;
                types.push_back(by_value ? VARTYPE{VT_VARIANT} : pointer_sized);
                pointers.push_back(&argument);
            }
            Bstr name;
            info->GetDocumentation(function->memid, name.put(), nullptr, nullptr, nullptr);
            std::string text(name.view().begin(), name.view().end());
            text += function->invkind == INVOKE_PROPERTYGET ? " get" : function->invkind == INVOKE_FUNC ? "" : " let";
            if (has_out) {
                std::fprintf(stderr, "calling %s\n", text.c_str());
                std::fflush(stderr);
                Variant returned;
                const HRESULT call = DispCallFunc(view.get(), function->oVft, CC_STDCALL, VT_ERROR,
                                                  static_cast<UINT>(function->cParams), types.data(),
                                                  pointers.data(), returned.get());
                ++called;
                if (call != S_OK || V_ERROR(returned.get()) != E_POINTER)
                    wrong.push_back(text);
            }
            info->ReleaseFuncDesc(function);
        }
    }
    return wrong;
}

void check_every_class_refuses_null_out_pointers()
{
    size_t called = 0;
    std::vector<std::string> wrong;
    for (const ComponentClass& component_class : component_classes()) {
        const ComPtr<IUnknown> object = component_class.create();
        for (std::string& member : members_taking_null_out_pointers(object.get(), called))
            wrong.push_back(std::move(member));
    }
    for (const std::string& member : wrong)
        std::fprintf(stderr, "no E_POINTER from %s\n", member.c_str());
    std::exit(called > 0 && wrong.empty() ? 0 : 1);
}

// In a process of its own: before the check, a NULL was written through.
TEST(Dispatch, EveryOutPointerMemberGivesEPointerForNull)
{
    EXPECT_EXIT(check_every_class_refuses_null_out_pointers(), ::testing::ExitedWithCode(0), "");
}

TEST(Dispatch, NamesInAnyLetterCaseAndPropertyGets)
{
    auto ftp = create(CLSID_FTP);
    EXPECT_EQ(dispatch_id_of(ftp.get(), L"Version"), 0x68030008);
    EXPECT_EQ(dispatch_id_of(ftp.get(), L"vErSiOn"), 0x68030008);
    EXPECT_EQ(dispatch_id_of(ftp.get(), L"NoSuchMember"), DISPID_UNKNOWN);

    Variant version;
    ASSERT_EQ(get_property(ftp.get(), 0x68030008, version), S_OK);
    ASSERT_EQ(V_VT(version.get()), VT_BSTR);
    EXPECT_EQ(text_of(*version.get()), L"1.01.2");

    auto http = create(CLSID_HTTP);
    ASSERT_EQ(get_property(http.get(), dispatch_id_of(http.get(), L"VERSION"), version), S_OK);
    EXPECT_EQ(text_of(*version.get()), L"1.01.1");
}

TEST(Dispatch, LetOnlyPropertiesHaveNoGet)
{
    Variant value;
    auto ftp = create(CLSID_FTP);
    EXPECT_EQ(get_property(ftp.get(), dispatch_id_of(ftp.get(), L"TransferType"), value), DISP_E_MEMBERNOTFOUND);
    auto http = create(CLSID_HTTP);
    EXPECT_EQ(get_property(http.get(), dispatch_id_of(http.get(), L"URL"), value), DISP_E_MEMBERNOTFOUND);
}

TEST(Dispatch, ErrorInfoIsOfferedForTheClassInterfaceOnly)
{
    auto ftp = create(CLSID_FTP);
    ComPtr<ISupportErrorInfo> support = ftp.query<ISupportErrorInfo>();
    ASSERT_TRUE(support);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(__uuidof(_FTP)), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    EXPECT_TRUE(ftp.query<_FTP>());
    EXPECT_FALSE(ftp.query<IPersist>());
}

// A collection of our own design for the frame's sake: records what
// reached it and raises on request.
class ProbeCollection final : public DispatchObject<_HTTPHeaders> {
public:
    explicit ProbeCollection(bool& destroyed) : destroyed_(destroyed) {}

    HRESULT STDMETHODCALLTYPE Count(LONG* result) override
    {
        return member([&] {
            if (fail_with)
                throw ComponentError(fail_with, L"Corvane.HTTP", L"Counting failed.Count error code: 5 Message: ");
            *result = 7;
        });
    }
    HRESULT STDMETHODCALLTYPE Item(VARIANT var_idx, BSTR* result) override
    {
        return member([&] { *result = allocate_bstr(L"item " + text_of(var_idx)); });
    }
    HRESULT STDMETHODCALLTYPE NewEnum(IUnknown** result) override
    {
        return member([&] {
            ++enumerators_made;
            *result = static_cast<_HTTPHeaders*>(this);
            AddRef();
        });
    }

    HRESULT fail_with = S_OK;
    int enumerators_made = 0;

private:
    ~ProbeCollection() override { destroyed_ = true; }
    bool& destroyed_;
};

TEST(Dispatch, DefaultMemberAndEnumeratorById)
{
    bool destroyed = false;
    {
        auto probe = make_object<ProbeCollection>(destroyed);
        IDispatch* dispatch = probe.get();

        Variant index;
        V_VT(index.get()) = VT_I4;
        V_I4(index.get()) = 3;
        DISPPARAMS one_argument{index.get(), nullptr, 1, 0};
        Variant result;
        ASSERT_EQ(dispatch->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                   &one_argument, result.put(), nullptr, nullptr),
                  S_OK);
        EXPECT_EQ(text_of(*result.get()), L"item 3");

        DISPPARAMS no_arguments{};
        ASSERT_EQ(dispatch->Invoke(DISPID_NEWENUM, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                   &no_arguments, result.put(), nullptr, nullptr),
                  S_OK);
        EXPECT_EQ(probe->enumerators_made, 1);
        EXPECT_EQ(V_VT(result.get()), VT_UNKNOWN);
        result.put();
    }
    EXPECT_TRUE(destroyed);
}

TEST(Dispatch, RaisedErrorReachesTheCallerWithNumberSourceAndDescription)
{
    bool destroyed = false;
    auto probe = make_object<ProbeCollection>(destroyed);
    probe->fail_with = static_cast<HRESULT>(0x800403ea);

    EXCEPINFO exception{};
    DISPPARAMS no_arguments{};
    Variant result;
    const HRESULT late_bound = probe->Invoke(0x60030002, IID_NULL, 0, DISPATCH_METHOD, &no_arguments, result.put(),
                                             &exception, nullptr);
    EXPECT_EQ(late_bound, DISP_E_EXCEPTION);
    const HRESULT number = exception.scode ? exception.scode : static_cast<HRESULT>(exception.wCode);
    EXPECT_EQ(number, static_cast<HRESULT>(0x800403ea));
    EXPECT_EQ(Bstr::view_of(exception.bstrSource), L"Corvane.HTTP");
    EXPECT_EQ(Bstr::view_of(exception.bstrDescription), L"Counting failed.Count error code: 5 Message: ");
    EXPECT_EQ(exception.bstrHelpFile, nullptr);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);

    // Early-bound callers get the number back and the rest from error info.
    LONG count = 0;
    EXPECT_EQ(probe->Count(&count), static_cast<HRESULT>(0x800403ea));
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
    GUID interface_id{};
    info->GetGUID(&interface_id);
    EXPECT_TRUE(IsEqualGUID(interface_id, __uuidof(_HTTPHeaders)));
    Bstr source;
    info->GetSource(source.put());
    EXPECT_EQ(source.view(), L"Corvane.HTTP");
}

TEST(Dispatch, ErrorOfAnInnerObjectPassesThroughUnchanged)
{
    bool destroyed = false;
    auto inner = make_object<ProbeCollection>(destroyed);
    inner->fail_with = static_cast<HRESULT>(0x80040205);
    try {
        LONG count = 0;
        check_call(inner->Count(&count), static_cast<_HTTPHeaders*>(inner.get()), __uuidof(_HTTPHeaders));
        FAIL() << "no error";
    } catch (const ComponentError& error) {
        EXPECT_EQ(error.number(), static_cast<HRESULT>(0x80040205));
        EXPECT_EQ(error.source(), L"Corvane.HTTP");
        EXPECT_EQ(error.description(), L"Counting failed.Count error code: 5 Message: ");
    }
}

TEST(Dispatch, ReferenceCountsAreExact)
{
    bool destroyed = false;
    _HTTPHeaders* raw = make_object<ProbeCollection>(destroyed).detach();
    EXPECT_EQ(raw->AddRef(), 2u);
    IDispatch* as_dispatch = nullptr;
    ASSERT_EQ(raw->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&as_dispatch)), S_OK);
    EXPECT_EQ(as_dispatch->Release(), 2u);
    EXPECT_EQ(raw->Release(), 1u);
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(raw->Release(), 0u);
    EXPECT_TRUE(destroyed);
}

TEST(Text, VariantsConvertAsScriptsExpect)
{
    Variant number;
    V_VT(number.get()) = VT_I4;
    V_I4(number.get()) = -42;
    EXPECT_EQ(text_of(*number.get()), L"-42");

    // A script variable arrives by reference.
    VARIANT by_reference;
    V_VT(&by_reference) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&by_reference) = number.get();
    EXPECT_EQ(text_of(by_reference), L"-42");

    Variant null;
    V_VT(null.get()) = VT_NULL;
    try {
        text_of(*null.get());
        FAIL() << "Null converted";
    } catch (const ComponentError& error) {
        EXPECT_TRUE(FAILED(error.number()));
    }

    EXPECT_EQ(trim_spaces(L"  a b \t "), L"a b \t");
    EXPECT_EQ(trim_spaces(L"    "), L"");
    EXPECT_EQ(from_ansi(to_ansi(L"caf\u00e9")), L"caf\u00e9");
    const char buffer[8] = {'a', 'b', '\0', 'c'};
    EXPECT_EQ(from_ansi_buffer(buffer, sizeof buffer), L"ab");
}

}  // namespace
}  // namespace corvane
