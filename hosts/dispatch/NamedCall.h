#pragma once
// Calls a member of an automation object by name, as a script engine does:
// GetIDsOfNames, then Invoke. A failure comes back as the member's own result
// code with the description and source that the object supplied, whether it
// raised them as an exception of the call or left them as the thread's error
// information.
#include <windows.h>
#include <oleauto.h>

#include <initializer_list>
#include <string>

struct CallFailure {
    HRESULT code = S_OK;
    bool hasErrorInfo = false;  // description and source below came from the object
    std::wstring description;
    std::wstring source;
};

// Arguments are given in natural order and only read; `result` may be null.
// Returns S_OK or the failure's code (also stored in `failure`).
HRESULT CallByName(IDispatch* object, const wchar_t* name, WORD flags, std::initializer_list<VARIANT> args,
                   VARIANT* result, CallFailure& failure) noexcept;
