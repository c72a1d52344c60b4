#include "server/SelfRegistration.h"
#include "com/Failure.h"

#include <oleauto.h>

#include <cwchar>
#include <initializer_list>
#include <new>
#include <string>

#include "com/ComHolders.h"
#include "server/RegistryScripts.h"
#include "uploadLib.h"

namespace qor {
namespace {

// The module's full path as the system reports it. A path that fills the
// whole buffer may have been cut, so it is refused rather than registered.
HRESULT ModulePath(HMODULE module, std::wstring& path) {
    wchar_t buffer[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, buffer, MAX_PATH);
    if (length == 0) return LastErrorOr();
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

// On 64-bit Windows HKCR\CLSID and HKCR\Interface have a 32-bit and a 64-bit
// view; the ProgIDs, AppID and TypeLib keys are one, shared by both. Each
// build keeps to its own view and its own platform's entry of the type
// library, and takes the shared keys away only when the other build's class
// is gone too. On 32-bit Windows the view flags are ignored: both name the
// one view there is.
constexpr REGSAM kOwnView = sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

// A key or value that is already gone is no failure of a removal.
HRESULT FromWin32(LONG error) {
    return error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(error);
}

// Whether a view of the registry names a server for the class.
bool ClassRegisteredIn(REGSAM view) {
    const std::wstring path = L"CLSID\\" + GuidText(CLSID_CQORUpload) + L"\\InprocServer32";
    UniqueRegKey key;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE | view, key.put()) == ERROR_SUCCESS;
}

// The subkeys of an open key other than those named in kept.
DWORD OtherSubkeys(HKEY key, std::initializer_list<const wchar_t*> kept) {
    DWORD others = 0;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) return others;
        bool isKept = false;
        for (const wchar_t* k : kept) isKept = isKept || CompareStringOrdinal(name, -1, k, -1, TRUE) == CSTR_EQUAL;
        others += !isKept;
    }
}

const wchar_t* PlatformName(SYSKIND kind) {
    switch (kind) {
        case SYS_WIN16: return L"win16";
        case SYS_MAC: return L"mac";
        case SYS_WIN64: return L"win64";
        default: return L"win32";
    }
}

// Removes TypeLib\{libid}\MAJOR.MINOR\LCID\PLATFORM, this platform's entry
// of the library, named as RegisterTypeLib names it (numbers in hexadecimal).
// The version key, with FLAGS and HELPDIR that every platform's registration
// shares, goes only with the last platform's entry.
HRESULT RemovePlatformEntry(const TLIBATTR& lib) {
    const std::wstring libraryPath = L"TypeLib\\" + GuidText(lib.guid);
    wchar_t version[16], locale[16];
    swprintf(version, 16, L"%x.%x", lib.wMajorVerNum, lib.wMinorVerNum);
    swprintf(locale, 16, L"%lx", static_cast<unsigned long>(lib.lcid));
    UniqueRegKey library, versionKey, localeKey;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, libraryPath.c_str(), 0, KEY_READ | KEY_WRITE, library.put()) != ERROR_SUCCESS ||
        RegOpenKeyExW(library.get(), version, 0, KEY_READ | KEY_WRITE, versionKey.put()) != ERROR_SUCCESS)
        return S_OK;  // nothing of it left to remove
    if (RegOpenKeyExW(versionKey.get(), locale, 0, KEY_READ | KEY_WRITE, localeKey.put()) == ERROR_SUCCESS) {
        RETURN_IF_FAILED(FromWin32(RegDeleteKeyW(localeKey.get(), PlatformName(lib.syskind))));
        if (OtherSubkeys(localeKey.get(), {}) == 0) RETURN_IF_FAILED(FromWin32(RegDeleteKeyW(versionKey.get(), locale)));
    }
    if (OtherSubkeys(versionKey.get(), {L"FLAGS", L"HELPDIR"}) != 0) return S_OK;
    versionKey.reset();
    RETURN_IF_FAILED(FromWin32(RegDeleteTreeW(library.get(), version)));
    if (OtherSubkeys(library.get(), {}) != 0) return S_OK;
    library.reset();
    return FromWin32(RegDeleteKeyW(HKEY_CLASSES_ROOT, libraryPath.c_str()));
}

// Removes HKCR\Interface\{iid} of each interface of the library, in one view,
// where the key names this library (RegisterTypeLib wrote it).
HRESULT RemoveInterfaceKeys(ITypeLib* lib, const GUID& libid, REGSAM view) {
    UniqueRegKey interfaces;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Interface", 0, KEY_READ | KEY_WRITE | view, interfaces.put()) != ERROR_SUCCESS)
        return S_OK;
    const std::wstring ours = GuidText(libid);
    for (UINT i = 0, count = lib->GetTypeInfoCount(); i < count; ++i) {
        ComPtr<ITypeInfo> info;
        UniqueTypeAttr attr;
        RETURN_IF_FAILED(lib->GetTypeInfo(i, info.put()));
        RETURN_IF_FAILED(GetTypeAttr(info.get(), attr));
        const TYPEKIND kind = attr.get()->typekind;
        if (kind != TKIND_DISPATCH && kind != TKIND_INTERFACE) continue;
        const std::wstring iid = GuidText(attr.get()->guid);
        wchar_t named[40] = {};
        DWORD bytes = sizeof(named);
        if (RegGetValueW(interfaces.get(), (iid + L"\\TypeLib").c_str(), nullptr, RRF_RT_REG_SZ, nullptr, named,
                         &bytes) != ERROR_SUCCESS ||
            CompareStringOrdinal(named, -1, ours.c_str(), -1, TRUE) != CSTR_EQUAL)
            continue;
        RETURN_IF_FAILED(FromWin32(RegDeleteTreeW(interfaces.get(), iid.c_str())));
    }
    return S_OK;
}

// Removes this build's class key and its platform's entry of the type
// library. The keys both builds share (ProgIDs, AppID, and the interface
// keys, which some systems keep in one view for both) go only when the other
// view no longer registers the class.
HRESULT Unregister(const std::wstring& path) {
    RETURN_IF_FAILED(UnregisterScript(HKEY_CLASSES_ROOT, ClassScript(path)));
    ComPtr<ITypeLib> lib;
    std::wstring loadedFrom;
    RETURN_IF_FAILED(LoadModuleTypeLib(path, lib, loadedFrom));
    UniqueLibAttr attributes;
    RETURN_IF_FAILED(GetLibAttr(lib.get(), attributes));
    const TLIBATTR identity = *attributes.get().lent;
    attributes.reset();
    RETURN_IF_FAILED(RemovePlatformEntry(identity));
    if (ClassRegisteredIn(kOtherView)) return S_OK;
    for (REGSAM view : {kOwnView, kOtherView})
        RETURN_IF_FAILED(RemoveInterfaceKeys(lib.get(), identity.guid, view));
    return UnregisterScript(HKEY_CLASSES_ROOT, SharedScript());
}

}  // namespace

HRESULT RegisterServer(HMODULE module) noexcept try {
    std::wstring path;
    RETURN_IF_FAILED(ModulePath(module, path));
    HRESULT hr = WriteScript(HKEY_CLASSES_ROOT, SharedScript());
    if (SUCCEEDED(hr)) hr = WriteScript(HKEY_CLASSES_ROOT, ClassScript(path));
    if (SUCCEEDED(hr)) hr = RegisterTypeLibrary(path);
    // A failed registration takes back what it wrote, and nothing that the
    // other build still needs.
    if (FAILED(hr)) Unregister(path);
    return hr;
} catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
}

HRESULT UnregisterServer(HMODULE module) noexcept try {
    std::wstring path;
    RETURN_IF_FAILED(ModulePath(module, path));
    return Unregister(path);
} catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
}

}  // namespace qor
