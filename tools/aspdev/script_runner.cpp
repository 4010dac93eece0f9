#include "tools/aspdev/script_runner.h"

#include "frame/com_object.h"
#include "frame/error.h"

namespace corvane::aspdev {

namespace {

constexpr wchar_t globals_name[] = L"AspdevPage";

// The page objects as members of one global object rather than as named
// items of their own: then `Session("name") = value` is an assignment to a
// member with arguments, which every engine passes on, where some engines
// refuse it on a named item. Arguments go to the object's default member.
class PageGlobals final : public ComObject<IDispatch> {
public:
    explicit PageGlobals(const std::vector<NamedObject>& objects) : objects_(objects) {}

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        if (!names || !ids || count == 0)
            return E_POINTER;
        for (UINT i = 0; i < count; ++i)
            ids[i] = DISPID_UNKNOWN;
        for (size_t i = 0; i < objects_.size(); ++i) {
            if (CompareStringOrdinal(names[0], -1, objects_[i].name.c_str(), -1, TRUE) == CSTR_EQUAL) {
                ids[0] = static_cast<DISPID>(i + 1);
                return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
            }
        }
        return DISP_E_UNKNOWNNAME;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID locale, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argument_error) override
    {
        if (id < 1 || static_cast<size_t>(id) > objects_.size())
            return DISP_E_MEMBERNOTFOUND;
        IDispatch* object = objects_[static_cast<size_t>(id) - 1].object.get();
        const bool has_arguments = parameters && parameters->cArgs > (flags & DISPATCH_PROPERTYPUT ? 1u : 0u);
        if (!has_arguments) {
            if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))
                return DISP_E_MEMBERNOTFOUND;
            if (!result)
                return S_OK;
            VariantInit(result);
            V_VT(result) = VT_DISPATCH;
            V_DISPATCH(result) = ComPtr<IDispatch>::share(object).detach();
            return S_OK;
        }
        return object->Invoke(DISPID_VALUE, IID_NULL, locale, flags, parameters, result, exception, argument_error);
    }

private:
    ~PageGlobals() override = default;

    const std::vector<NamedObject>& objects_;
};

class ScriptSite final : public ComObject<IActiveScriptSite> {
public:
    explicit ScriptSite(const std::vector<NamedObject>& objects) : globals_(make_object<PageGlobals>(objects)) {}

    std::optional<ScriptFailure> failure;

    HRESULT STDMETHODCALLTYPE GetLCID(LCID*) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** type_info) override
    {
        if (item)
            *item = nullptr;
        if (type_info)
            *type_info = nullptr;
        if (CompareStringOrdinal(name, -1, globals_name, -1, TRUE) != CSTR_EQUAL)
            return TYPE_E_ELEMENTNOTFOUND;
        if ((mask & SCRIPTINFO_IUNKNOWN) && item)
            *item = ComPtr<IUnknown>::share(globals_.get()).detach();
        if (mask & SCRIPTINFO_ITYPEINFO)
            return E_NOTIMPL;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnStateChange(SCRIPTSTATE) override { return S_OK; }

    // Only the first error counts: later ones follow from it.
    HRESULT STDMETHODCALLTYPE OnScriptError(IActiveScriptError* error) override
    {
        if (failure || !error)
            return S_OK;
        ScriptFailure found;
        EXCEPINFO info{};
        if (SUCCEEDED(error->GetExceptionInfo(&info))) {
            if (info.pfnDeferredFillIn)
                info.pfnDeferredFillIn(&info);
            found.number = info.scode ? info.scode : (info.wCode ? MAKE_HRESULT(1, FACILITY_ITF, info.wCode) : E_FAIL);
            if (info.bstrSource)
                found.source = info.bstrSource;
            if (info.bstrDescription)
                found.description = info.bstrDescription;
            SysFreeString(info.bstrSource);
            SysFreeString(info.bstrDescription);
            SysFreeString(info.bstrHelpFile);
        }
        DWORD context = 0;
        ULONG line = 0;
        LONG column = 0;
        if (SUCCEEDED(error->GetSourcePosition(&context, &line, &column)))
            found.line = line;
        failure = std::move(found);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE OnEnterScript() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnLeaveScript() override { return S_OK; }

private:
    ~ScriptSite() override = default;

    ComPtr<PageGlobals> globals_;
};

// Closes the engine whichever way the run ends, so that it lets go of the
// site and the page objects.
class EngineCloser {
public:
    explicit EngineCloser(IActiveScript* engine) : engine_(engine) {}
    EngineCloser(const EngineCloser&) = delete;
    EngineCloser& operator=(const EngineCloser&) = delete;
    ~EngineCloser() { engine_->Close(); }

private:
    IActiveScript* engine_;
};

}  // namespace

std::optional<ScriptFailure> run_script(const std::wstring& script, const std::vector<NamedObject>& objects,
                                        const std::function<void(const ComPtr<IActiveScript>&)>& started,
                                        const std::function<bool(HRESULT)>& ended_normally)
{
    CLSID engine_class{};
    check_com(CLSIDFromProgID(L"VBScript", &engine_class));
    ComPtr<IActiveScript> engine;
    check_com(CoCreateInstance(engine_class, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IActiveScript),
                               reinterpret_cast<void**>(engine.put())));
    ComPtr<IActiveScriptParse> parser;
    check_com(engine->QueryInterface(__uuidof(IActiveScriptParse), reinterpret_cast<void**>(parser.put())));
    const ComPtr<ScriptSite> site = ComPtr<ScriptSite>::adopt(new ScriptSite(objects));
    check_com(engine->SetScriptSite(site.get()));
    const EngineCloser closer(engine.get());
    check_com(parser->InitNew());
    check_com(engine->AddNamedItem(globals_name, SCRIPTITEM_ISVISIBLE | SCRIPTITEM_GLOBALMEMBERS));
    started(engine);

    const HRESULT parsed =
        parser->ParseScriptText(script.c_str(), nullptr, nullptr, nullptr, 0, 0, SCRIPTTEXT_ISVISIBLE, nullptr, nullptr);
    HRESULT ran = parsed;
    if (SUCCEEDED(parsed))
        ran = engine->SetScriptState(SCRIPTSTATE_CONNECTED);
    if (site->failure && ended_normally(site->failure->number))
        return std::nullopt;
    if (site->failure)
        return site->failure;
    if (FAILED(ran) && !ended_normally(ran)) {
        ScriptFailure failure;
        failure.number = ran;
        failure.description = L"The script engine failed without saying why.";
        return failure;
    }
    return std::nullopt;
}

}  // namespace corvane::aspdev
