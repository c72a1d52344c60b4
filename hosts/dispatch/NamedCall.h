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
// Returns the member's success code or the failure's code (also stored in
// `failure`); nothing throws.
HRESULT CallByName(IDispatch* object, const wchar_t* name, WORD flags, std::initializer_list<VARIANT> args,
                   VARIANT* result, CallFailure& failure) noexcept;

// An assignment as a script engine makes it: `value` is the one argument,
// named DISPID_PROPERTYPUT. Returns and fails as CallByName does.
HRESULT PutByName(IDispatch* object, const wchar_t* name, const VARIANT& value, CallFailure& failure) noexcept;
