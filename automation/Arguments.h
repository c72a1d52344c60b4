#pragma once
// How the result objects read a script's arguments, and how the parser's
// 8-bit text becomes automation strings.
#include <windows.h>
#include <oleauto.h>

#include "com/ComHolders.h"

namespace qor {

// True for the marker the automation layer passes for an omitted optional
// argument: VT_ERROR (not by reference) holding DISP_E_PARAMNOTFOUND.
bool IsMissingArgument(const VARIANT& arg) noexcept;

// The 1-based position an argument names, or 0 for none. Numbers and numeric
// strings within the unsigned 32-bit range convert (by the platform's coercion,
// which follows references); anything else is no position, never a failure.
ULONG ToPosition(const VARIANT& arg) noexcept;

// Replaces a reference to a VARIANT (VT_BYREF | VT_VARIANT) by a copy of the
// referenced value; any other VARIANT is left as it is. Raises on failure.
void ResolveReference(VARIANT& arg);

// NUL-terminated 8-bit text (up to its first zero byte) converted with the
// system ANSI code page into a new automation string; null gives null.
// Raises E_OUTOFMEMORY or the conversion's system error.
UniqueBstr ToAutomationString(const char* text);
// The same with a code page of the caller's choosing; CP_ACP is the one
// above. UTF-8 (CP_UTF8) is decoded by the component itself, each
// ill-formed sequence becoming U+FFFD, so that every system gives the same text.
UniqueBstr ToAutomationString(const char* text, UINT codePage);

}  // namespace qor
