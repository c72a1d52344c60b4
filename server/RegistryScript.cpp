#include "server/RegistryScript.h"
#include "com/Failure.h"

#include "com/ComHolders.h"

namespace qor {

namespace {

HRESULT FromWin32(LONG error) { return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error); }

bool IsValidName(const std::wstring& name) { return !name.empty() && name.find(L'\\') == std::wstring::npos; }

bool SameName(const std::wstring& a, const wchar_t* b) { return CompareStringOrdinal(a.c_str(), -1, b, -1, TRUE) == CSTR_EQUAL; }

// Deletes every subkey and named or default value of an open key that the
// script does not write there. One that another writer removed meanwhile is
// no error.
HRESULT PruneUnscripted(HKEY handle, const RegistryKey& key) {
    std::vector<std::wstring> stale;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        LONG found = RegEnumKeyExW(handle, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (found == ERROR_NO_MORE_ITEMS) break;
        if (found != ERROR_SUCCESS) return FromWin32(found);
        bool scripted = false;
        for (const RegistryKey& subkey : key.subkeys) scripted = scripted || SameName(subkey.name, name);
        if (!scripted) stale.emplace_back(name, length);
    }
    for (const std::wstring& subkey : stale) {
        LONG gone = RegDeleteTreeW(handle, subkey.c_str());
        if (gone != ERROR_SUCCESS && gone != ERROR_FILE_NOT_FOUND) return FromWin32(gone);
    }

    stale.clear();
    std::vector<wchar_t> valueName(16384);  // the longest value name the registry allows
    for (DWORD i = 0;; ++i) {
        DWORD length = static_cast<DWORD>(valueName.size());
        LONG found = RegEnumValueW(handle, i, valueName.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (found == ERROR_NO_MORE_ITEMS) break;
        if (found != ERROR_SUCCESS) return FromWin32(found);
        bool scripted = false;
        for (const RegistryValue& value : key.values) scripted = scripted || SameName(value.name, valueName.data());
        if (!scripted) stale.emplace_back(valueName.data(), length);
    }
    for (const std::wstring& value : stale) {
        LONG gone = RegDeleteValueW(handle, value.empty() ? nullptr : value.c_str());
        if (gone != ERROR_SUCCESS && gone != ERROR_FILE_NOT_FOUND) return FromWin32(gone);
    }
    return S_OK;
}

// A ForceRemove key ends up holding exactly what the script writes, and so
// does every key below it. It is written in place and then cleared of what
// the script does not name, rather than deleted and written afresh: the class
// stays registered throughout a re-registration, so a process creating the
// object meanwhile, or a second registration at the same time, never finds
// the key missing or deleted under its handle.
HRESULT WriteKey(HKEY parent, const RegistryKey& key, bool exact) {
    if (!IsValidName(key.name)) return DISP_E_EXCEPTION;
    exact = exact || key.lifetime == RegistryKey::Lifetime::ForceRemove;
    UniqueRegKey handle;
    if (HRESULT hr = FromWin32(RegCreateKeyExW(parent, key.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                               KEY_READ | KEY_WRITE, nullptr, handle.put(), nullptr));
        FAILED(hr))
        return hr;
    for (const RegistryValue& value : key.values) {
        const DWORD bytes = static_cast<DWORD>((value.data.size() + 1) * sizeof(wchar_t));
        if (HRESULT hr = FromWin32(RegSetValueExW(handle.get(), value.name.empty() ? nullptr : value.name.c_str(), 0,
                                                  REG_SZ, reinterpret_cast<const BYTE*>(value.data.c_str()), bytes));
            FAILED(hr))
            return hr;
    }
    for (const RegistryKey& subkey : key.subkeys)
        RETURN_IF_FAILED(WriteKey(handle.get(), subkey, exact));
    return exact ? PruneUnscripted(handle.get(), key) : S_OK;
}

HRESULT RemoveKey(HKEY parent, const RegistryKey& key) {
    if (!IsValidName(key.name)) return DISP_E_EXCEPTION;
    UniqueRegKey handle;
    LONG opened = RegOpenKeyExW(parent, key.name.c_str(), 0, KEY_READ | KEY_WRITE, handle.put());
    if (opened == ERROR_FILE_NOT_FOUND) return S_OK;  // nothing of it or below it to remove
    RETURN_IF_FAILED(FromWin32(opened));

    for (const RegistryKey& subkey : key.subkeys)
        RETURN_IF_FAILED(RemoveKey(handle.get(), subkey));
    for (const RegistryValue& value : key.values) {
        if (value.name.empty()) continue;  // the default value goes with its key
        LONG deleted = RegDeleteValueW(handle.get(), value.name.c_str());
        if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) return FromWin32(deleted);
    }
    if (key.lifetime == RegistryKey::Lifetime::NoRemove) return S_OK;

    // RegDeleteKey refuses a key that still has subkeys: one the script does
    // not name is not ours to remove.
    DWORD subkeys = 0;
    if (HRESULT hr = FromWin32(RegQueryInfoKeyW(handle.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                                nullptr, nullptr, nullptr, nullptr, nullptr));
        FAILED(hr))
        return hr;
    if (subkeys != 0) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    return FromWin32(RegDeleteKeyW(parent, key.name.c_str()));
}

}  // namespace

HRESULT WriteScript(HKEY root, const std::vector<RegistryKey>& script) {
    for (const RegistryKey& key : script)
        RETURN_IF_FAILED(WriteKey(root, key, false));
    return S_OK;
}

HRESULT RegisterScript(HKEY root, const std::vector<RegistryKey>& script) {
    const HRESULT hr = WriteScript(root, script);
    if (FAILED(hr)) UnregisterScript(root, script);
    return hr;
}

HRESULT UnregisterScript(HKEY root, const std::vector<RegistryKey>& script) {
    for (const RegistryKey& key : script)
        RETURN_IF_FAILED(RemoveKey(root, key));
    return S_OK;
}

}  // namespace qor
