#pragma once
// IDispatch's type information members for host objects that offer none:
// scripts find their members by name, components call them through the
// vtable. Neither member fails except for a null out pointer.
#include "hosts/HostUnknown.h"

#include <windows.h>
#include <oleauto.h>

#include <string_view>

template <typename Interface>
class HostDispatch : public HostUnknown<Interface> {
public:
    HRESULT WINAPI GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT WINAPI GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }

protected:
    using HostUnknown<Interface>::HostUnknown;
};

// Names in scripts (members, named items, keys) compare without regard to case.
inline bool SameNameIgnoringCase(std::wstring_view a, std::wstring_view b) noexcept {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// A member the host does not offer: sets its out pointer to null.
template <typename T>
HRESULT NotImplemented(T** out) noexcept {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

// Hands a failure with its description to a script engine through the
// EXCEPINFO it passed (if any) and gives the result that says so.
inline HRESULT RaiseToScript(EXCEPINFO* exception, HRESULT code, std::wstring_view source,
                             std::wstring_view description) noexcept {
    if (exception) {
        *exception = EXCEPINFO{};
        exception->scode = code;
        exception->bstrSource = SysAllocStringLen(source.data(), static_cast<UINT>(source.size()));
        exception->bstrDescription = SysAllocStringLen(description.data(), static_cast<UINT>(description.size()));
    }
    return DISP_E_EXCEPTION;
}
