#pragma once
// The class objects of CQORUpload and CQORUploadProgress, and the module's
// table that caches them.
#include <windows.h>

namespace qor {

// Hands out the one class object of each class for the library's life: the
// same object on every call, created under the module's critical section.
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept;

// Drops the cached class objects; for library unload only.
void ReleaseClassObject() noexcept;

}  // namespace qor
