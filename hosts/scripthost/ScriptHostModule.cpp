// The entry points of qorscripthost.dll: its class object and its own
// registration, which only the test setup runs.
#include "hosts/scripthost/ScriptablePageHost.h"
#include "com/Failure.h"

#include "server/RegistryScript.h"
#include "server/RegistryScripts.h"

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <string>
#include <vector>

using namespace qor;

namespace {

HINSTANCE moduleInstance = nullptr;
std::atomic<LONG> serverLocks{0};

using Lifetime = RegistryKey::Lifetime;

std::vector<RegistryKey> ClassKeys(const std::wstring& modulePath) {
    const std::wstring clsid = GuidText(scripthost::kClsid);
    return {
        {scripthost::kProgId, Lifetime::Normal, {{L"", scripthost::kProgId}},
         {{L"CLSID", Lifetime::Normal, {{L"", clsid}}, {}}}},
        {L"CLSID", Lifetime::NoRemove, {},
         {{clsid, Lifetime::ForceRemove, {{L"", scripthost::kProgId}},
           {
               {L"ProgID", Lifetime::Normal, {{L"", scripthost::kProgId}}, {}},
               {L"InprocServer32", Lifetime::Normal, {{L"", modulePath}, {L"ThreadingModel", L"Apartment"}}, {}},
           }}}},
    };
}

HRESULT ModulePath(std::wstring& path) {
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(moduleInstance, buffer, MAX_PATH);
    if (length == 0) return HRESULT_FROM_WIN32(GetLastError());
    if (length >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    path.assign(buffer, length);
    return S_OK;
}

// One class object for the life of the library; it does not count as a lock.
class ClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return scripthost::ScriptablePageHost::Create(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            ++serverLocks;
        else
            --serverLocks;
        return S_OK;
    }
};

ClassFactory classFactory;

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        moduleInstance = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, scripthost::kClsid)) return CLASS_E_CLASSNOTAVAILABLE;
    return classFactory.QueryInterface(iid, out);
}

// Host objects handed to a component run this library's code: it stays while
// any of them lives, not only while page host objects do.
STDAPI DllCanUnloadNow() {
    const bool idle = serverLocks.load() == 0 && scripthost::ScriptablePageHost::LiveCount() == 0 &&
                      testhost::LiveHostObjectsInProcess() == 0;
    return idle ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
    return qor::CallBoundary([] {
        std::wstring path;
        RETURN_IF_FAILED(ModulePath(path));
        return RegisterScript(HKEY_CLASSES_ROOT, ClassKeys(path));
    });
}

STDAPI DllUnregisterServer() {
    return qor::CallBoundary([] { return UnregisterScript(HKEY_CLASSES_ROOT, ClassKeys(L"")); });
}
