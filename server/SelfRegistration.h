#pragma once
#include <windows.h>

namespace qor {

// Writes the application identifier, the ProgIDs, the class (in this build's
// view of the registry) and the type library of the given module; the first
// failure ends it and takes back what this build alone needs.
HRESULT RegisterServer(HMODULE module) noexcept;
// Removes this build's class and its platform's entry of the type library;
// the ProgIDs, application identifier and interface keys too once the other
// build's class is not registered either.
HRESULT UnregisterServer(HMODULE module) noexcept;

}  // namespace qor
