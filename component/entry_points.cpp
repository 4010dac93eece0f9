// The four exports of the DLL.

#include "component/classes.h"
#include "frame/class_factory.h"
#include "frame/registration.h"
#include "frame/win32.h"

extern "C" {

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID class_id, REFIID interface_id, void** object)
{
    return corvane::get_class_object(corvane::component_classes(), class_id, interface_id, object);
}

// Once loaded, the component stays loaded for the life of the process:
// script hosts create and drop objects page after page, and a reload each
// time would cost more than the memory it frees.
HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return S_FALSE;
}

HRESULT STDAPICALLTYPE DllRegisterServer()
{
    return corvane::register_server(corvane::component_classes());
}

HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    return corvane::unregister_server(corvane::component_classes());
}

}  // extern "C"
