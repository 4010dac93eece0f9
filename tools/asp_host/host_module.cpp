// The DLL's exports: one creatable class, registered like any in-process
// automation server so that scripts create it by ProgID.

#include "tools/asp_host/page_objects.h"

#include "frame/class_factory.h"
#include "frame/registration.h"

#include <array>

namespace {

const std::array<corvane::ComponentClass, 1> host_classes{{
    {__uuidof(AspTestPage), L"AspTestHost.Page", &corvane::asp_host::Page::create},
}};

}  // namespace

extern "C" {

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID class_id, REFIID interface_id, void** object)
{
    return corvane::get_class_object(host_classes, class_id, interface_id, object);
}

// Tests hold on to objects across the whole run; the module stays.
HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return S_FALSE;
}

HRESULT STDAPICALLTYPE DllRegisterServer()
{
    return corvane::register_server(host_classes);
}

HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    return corvane::unregister_server(host_classes);
}

}  // extern "C"
