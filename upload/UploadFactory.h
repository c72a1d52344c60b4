#pragma once
// The instance creators that the class objects call: one for each class.
#include <windows.h>

// Creates an upload object and asks it for iid. Without outer a plain object;
// with outer an aggregated one, whose inner (non-delegating) unknown is what
// an aggregating caller must ask for (IID_IUnknown; any other identifier
// gives CLASS_E_NOAGGREGATION). A null out gives E_POINTER; otherwise *out is
// set to null first and receives the interface on success. E_OUTOFMEMORY when
// the object or its dictionaries cannot be made; a failed creation leaves no
// object and no module lock behind.
HRESULT CreateUploadObject(IUnknown* outer, REFIID iid, void** out) noexcept;

// Creates a progress object (CQORUploadProgress) and asks it for iid; it
// cannot be aggregated (CLASS_E_NOAGGREGATION with outer).
HRESULT CreateProgressObject(IUnknown* outer, REFIID iid, void** out) noexcept;
