#include "automation/Arguments.h"

#include "com/Failure.h"
#include "support/Utf8.h"

#include <cstring>
#include <limits>

namespace qor {

bool IsMissingArgument(const VARIANT& arg) noexcept {
    return V_VT(&arg) == VT_ERROR && V_ERROR(&arg) == DISP_E_PARAMNOTFOUND;
}

namespace {

// A negative number is never a position. The coercion does not always say so
// itself: Wine's turns a negative VT_I4 or VT_INT into a large unsigned value.
bool IsNegativeInteger(const VARIANT& arg) noexcept {
    const VARIANT* v = &arg;
    if (V_VT(v) == (VT_BYREF | VT_VARIANT)) {
        v = V_VARIANTREF(v);
        if (!v) return false;
    }
    bool byRef = (V_VT(v) & VT_BYREF) != 0;
    if (byRef && !V_BYREF(v)) return false;
    switch (V_VT(v) & ~VT_BYREF) {
    case VT_I1: return (byRef ? *V_I1REF(v) : V_I1(v)) < 0;
    case VT_I2: return (byRef ? *V_I2REF(v) : V_I2(v)) < 0;
    case VT_I4: return (byRef ? *V_I4REF(v) : V_I4(v)) < 0;
    case VT_INT: return (byRef ? *V_INTREF(v) : V_INT(v)) < 0;
    case VT_I8: return (byRef ? *V_I8REF(v) : V_I8(v)) < 0;
    default: return false;
    }
}

}  // namespace

ULONG ToPosition(const VARIANT& arg) noexcept {
    if (V_VT(&arg) == VT_UI4) return V_UI4(&arg);
    if (IsNegativeInteger(arg)) return 0;
    VARIANT position;
    VariantInit(&position);
    if (FAILED(VariantChangeType(&position, const_cast<VARIANT*>(&arg), 0, VT_UI4))) return 0;
    return V_UI4(&position);
}

void ResolveReference(VARIANT& arg) {
    if (V_VT(&arg) != (VT_BYREF | VT_VARIANT)) return;
    const VARIANT* referenced = V_VARIANTREF(&arg);
    if (!referenced) RaiseFailure(E_POINTER);
    if (V_VT(referenced) != V_VT(&arg)) CheckHr(VariantChangeType(&arg, &arg, 0, V_VT(referenced)));
}

UniqueBstr ToAutomationString(const char* text) { return ToAutomationString(text, CP_ACP); }

namespace {

UniqueBstr FromUtf8(const char* text, size_t length) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    const size_t units = Utf16FromUtf8<wchar_t>(bytes, length, nullptr);
    if (units >= static_cast<size_t>(std::numeric_limits<int>::max())) RaiseFailure(E_OUTOFMEMORY);
    UniqueBstr result(SysAllocStringLen(nullptr, static_cast<UINT>(units)));
    if (!result.get()) RaiseFailure(E_OUTOFMEMORY);
    Utf16FromUtf8(bytes, length, result.get());
    return result;
}

}  // namespace

UniqueBstr ToAutomationString(const char* text, UINT codePage) {
    if (!text) return UniqueBstr();
    size_t length = std::strlen(text);
    if (length >= static_cast<size_t>(std::numeric_limits<int>::max())) RaiseFailure(E_OUTOFMEMORY);
    if (codePage == CP_UTF8) return FromUtf8(text, length);
    auto raiseLastError = [] { RaiseFailure(LastErrorOr()); };
    // The terminator is converted too, so that a multi-byte sequence cut off
    // by the end of the text is treated as the system treats it in a C string.
    int bytes = static_cast<int>(length) + 1;
    int units = MultiByteToWideChar(codePage, 0, text, bytes, nullptr, 0);
    if (units <= 0) raiseLastError();
    // A string of units - 1 characters has room for units, terminator included:
    // converting straight into it gives the same text as converting into a
    // buffer and copying, without the second allocation.
    UniqueBstr result(SysAllocStringLen(nullptr, static_cast<UINT>(units - 1)));
    if (!result.get()) RaiseFailure(E_OUTOFMEMORY);
    if (MultiByteToWideChar(codePage, 0, text, bytes, result.get(), units) != units) raiseLastError();
    return result;
}

}  // namespace qor
