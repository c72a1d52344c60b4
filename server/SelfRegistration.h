#pragma once
#include <windows.h>

namespace qor {

// Writes the application identifier, the class with its ProgIDs and the type
// library of the given module into the registry; the first failure ends it.
HRESULT RegisterServer(HMODULE module) noexcept;
// Removes them again: class, type library, application identifier.
HRESULT UnregisterServer(HMODULE module) noexcept;

}  // namespace qor
