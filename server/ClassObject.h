#pragma once
// The class object of CQORUpload and the module's table entry that caches it.
#include <windows.h>

namespace qor {

// Hands out the one class object of the class for the library's life: the
// same object on every call, created under the module's critical section.
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept;

// Drops the cached class object; for library unload only.
void ReleaseClassObject() noexcept;

}  // namespace qor
