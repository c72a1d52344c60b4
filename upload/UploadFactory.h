#pragma once
// The instance creator that the class object calls to make an upload object.
#include <windows.h>

// Creates an upload object and asks it for iid. Without outer a plain object;
// with outer an aggregated one, whose inner (non-delegating) unknown is what
// an aggregating caller must ask for (IID_IUnknown; any other identifier
// gives CLASS_E_NOAGGREGATION). A null out gives E_POINTER; otherwise *out is
// set to null first and receives the interface on success. E_OUTOFMEMORY when
// the object or its dictionaries cannot be made; a failed creation leaves no
// object and no module lock behind.
HRESULT CreateUploadObject(IUnknown* outer, REFIID iid, void** out) noexcept;
