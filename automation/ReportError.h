#pragma once
// The one way the upload object reports a failure to a page script: installs
// automation error information on the calling thread and gives back the
// result code that the failing method returns.
#include <windows.h>

namespace qor {

// description: NUL-terminated 8-bit text in the thread's ANSI code page.
// result: the failure to report, or 0 when there is no underlying code.
// iid: stored as the error information's GUID (callers pass GUID_NULL).
// Returns result, or DISP_E_EXCEPTION when result is not a failure code.
// A null description gives E_POINTER, text that cannot be converted gives
// E_OUTOFMEMORY; neither touches the thread's error information.
HRESULT ReportError(const char* description, HRESULT result, REFIID iid) noexcept;
// The same for a description that is already UTF-16 (a path a script gave,
// say), which keeps every character of it.
HRESULT ReportErrorW(const wchar_t* description, HRESULT result, REFIID iid) noexcept;

}  // namespace qor
