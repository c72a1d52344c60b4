#pragma once
// A registry script held as data: a tree of keys with string values, each key
// marked with how it behaves when the script is registered or unregistered.
#include <windows.h>

#include <string>
#include <vector>

namespace qor {

struct RegistryValue {
    std::wstring name;  // empty for the key's default value
    std::wstring data;
};

struct RegistryKey {
    enum class Lifetime {
        Normal,       // created if missing; deleted at unregistration once empty
        ForceRemove,  // at registration left holding exactly the scripted keys and
                      // values, below it too; written in place, so never missing
        NoRemove,     // created if missing; never deleted
    };

    std::wstring name;  // one path component: never holds a backslash
    Lifetime lifetime = Lifetime::Normal;
    std::vector<RegistryValue> values;
    std::vector<RegistryKey> subkeys;
};

// Writes the keys below root; the first failure ends it, and what was written
// stays for the caller to take back.
HRESULT WriteScript(HKEY root, const std::vector<RegistryKey>& script);

// Writes the keys below root. When a step fails, whatever the script names is
// unregistered again before the failure is returned.
HRESULT RegisterScript(HKEY root, const std::vector<RegistryKey>& script);

// Walks the script in the same order: named values are deleted (one already
// gone is no error), a missing key is skipped with everything scripted below
// it, and every key not marked NoRemove is deleted after its scripted
// subkeys. A key that still holds an unscripted subkey cannot be deleted and
// stops the walk with that error.
HRESULT UnregisterScript(HKEY root, const std::vector<RegistryKey>& script);

}  // namespace qor
