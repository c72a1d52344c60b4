// The library's entry points: its load entry and the four exports that the
// component runtime and regsvr32 call.
#include <windows.h>

#include "automation/DualDispatch.h"
#include "server/ClassObject.h"
#include "com/Module.h"
#include "server/SelfRegistration.h"

using namespace qor;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        qor::SetModuleInstance(instance);
        DisableThreadLibraryCalls(instance);
        return qor::ModuleInitialized() ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
        // Only on FreeLibrary: when the process ends, the system DLLs that own
        // these objects may already be gone.
        if (!reserved) {
            qor::ReleaseClassObject();
            qor::ReleaseDispatchTypeInfo();
        }
        return TRUE;
    default:
        return TRUE;
    }
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    return qor::GetClassObject(clsid, iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return qor::ModuleLockCount() == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return qor::RegisterServer(qor::ModuleInstance()); }

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return qor::UnregisterServer(qor::ModuleInstance()); }
