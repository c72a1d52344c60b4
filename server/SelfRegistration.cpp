#include "SelfRegistration.h"

#include <oleauto.h>

#include <new>
#include <string>

#include "automation/ComHolders.h"
#include "server/RegistryScripts.h"

namespace qor {
namespace {

HRESULT LastErrorResult() {
    DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// The module's full path as the system reports it. A path that fills the
// whole buffer may have been cut, so it is refused rather than registered.
HRESULT ModulePath(HMODULE module, std::wstring& path) {
    wchar_t buffer[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, buffer, MAX_PATH);
    if (length == 0) return LastErrorResult();
    if (length >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    path.assign(buffer, length);
    return S_OK;
}

// The type library from the module, or else from the file beside it with the
// extension ".tlb"; loadedFrom names the file it came from.
HRESULT LoadModuleTypeLib(const std::wstring& modulePath, ComPtr<ITypeLib>& lib, std::wstring& loadedFrom) {
    loadedFrom = modulePath;
    HRESULT hr = LoadTypeLibEx(loadedFrom.c_str(), REGKIND_NONE, lib.put());
    if (SUCCEEDED(hr)) return hr;
    const size_t dot = modulePath.find_last_of(L'.');
    const size_t separator = modulePath.find_last_of(L"\\/");
    if (dot == std::wstring::npos || (separator != std::wstring::npos && dot < separator)) return hr;
    loadedFrom = modulePath.substr(0, dot) + L".tlb";
    return LoadTypeLibEx(loadedFrom.c_str(), REGKIND_NONE, lib.put());
}

HRESULT RegisterTypeLibrary(const std::wstring& modulePath) {
    ComPtr<ITypeLib> lib;
    std::wstring loadedFrom;
    if (HRESULT hr = LoadModuleTypeLib(modulePath, lib, loadedFrom); FAILED(hr)) return hr;
    std::wstring helpDirectory = loadedFrom.substr(0, loadedFrom.find_last_of(L"\\/") + 1);
    return RegisterTypeLib(lib.get(), loadedFrom.data(), helpDirectory.data());
}

HRESULT UnregisterTypeLibrary(const std::wstring& modulePath) {
    ComPtr<ITypeLib> lib;
    std::wstring loadedFrom;
    if (HRESULT hr = LoadModuleTypeLib(modulePath, lib, loadedFrom); FAILED(hr)) return hr;
    TLIBATTR* attributes = nullptr;
    if (HRESULT hr = lib->GetLibAttr(&attributes); FAILED(hr)) return hr;
    const TLIBATTR copy = *attributes;
    lib->ReleaseTLibAttr(attributes);
    // A library that is no longer registered is skipped, as a missing key of
    // the scripts is: unregistering twice is no failure, and it must not keep
    // the application identifier entries from being removed.
    UniqueBstr registeredPath;
    if (FAILED(QueryPathOfRegTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid,
                                     registeredPath.put())))
        return S_OK;
    return UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind);
}

}  // namespace

HRESULT RegisterServer(HMODULE module) noexcept try {
    std::wstring path;
    if (HRESULT hr = ModulePath(module, path); FAILED(hr)) return hr;
    if (HRESULT hr = RegisterScript(HKEY_CLASSES_ROOT, AppIdScript()); FAILED(hr)) return hr;
    if (HRESULT hr = RegisterScript(HKEY_CLASSES_ROOT, ClassScript(path)); FAILED(hr)) return hr;
    return RegisterTypeLibrary(path);
} catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
}

HRESULT UnregisterServer(HMODULE module) noexcept try {
    std::wstring path;
    if (HRESULT hr = ModulePath(module, path); FAILED(hr)) return hr;
    if (HRESULT hr = UnregisterScript(HKEY_CLASSES_ROOT, ClassScript(path)); FAILED(hr)) return hr;
    if (HRESULT hr = UnregisterTypeLibrary(path); FAILED(hr)) return hr;
    return UnregisterScript(HKEY_CLASSES_ROOT, AppIdScript());
} catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
}

}  // namespace qor
