#include "server/SelfRegistration.h"
#include "com/Failure.h"

#include <oleauto.h>

#include <new>
#include <string>

#include "com/ComHolders.h"
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
    RETURN_IF_FAILED(LoadModuleTypeLib(modulePath, lib, loadedFrom));
    std::wstring helpDirectory = loadedFrom.substr(0, loadedFrom.find_last_of(L"\\/") + 1);
    return RegisterTypeLib(lib.get(), loadedFrom.data(), helpDirectory.data());
}

HRESULT UnregisterTypeLibrary(const std::wstring& modulePath) {
    ComPtr<ITypeLib> lib;
    std::wstring loadedFrom;
    RETURN_IF_FAILED(LoadModuleTypeLib(modulePath, lib, loadedFrom));
    UniqueLibAttr attributes;
    RETURN_IF_FAILED(GetLibAttr(lib.get(), attributes));
    const TLIBATTR copy = *attributes.get().lent;
    attributes.reset();
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
    RETURN_IF_FAILED(ModulePath(module, path));
    RETURN_IF_FAILED(RegisterScript(HKEY_CLASSES_ROOT, AppIdScript()));
    RETURN_IF_FAILED(RegisterScript(HKEY_CLASSES_ROOT, ClassScript(path)));
    return RegisterTypeLibrary(path);
} catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
}

HRESULT UnregisterServer(HMODULE module) noexcept try {
    std::wstring path;
    RETURN_IF_FAILED(ModulePath(module, path));
    RETURN_IF_FAILED(UnregisterScript(HKEY_CLASSES_ROOT, ClassScript(path)));
    RETURN_IF_FAILED(UnregisterTypeLibrary(path));
    return UnregisterScript(HKEY_CLASSES_ROOT, AppIdScript());
} catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
}

}  // namespace qor
