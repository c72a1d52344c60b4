#pragma once
#include <windows.h>

// Creates a CQORUpload, alone or as the inner object of an aggregate (then
// the inner, non-delegating unknown is handed out). A null out pointer gives
// E_POINTER; on any failure nothing is left behind: no object, no lock.
HRESULT CreateUploadObject(IUnknown* outer, REFIID iid, void** out) noexcept;
