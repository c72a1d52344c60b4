#pragma once
// What the C++ code owns of COM, OLE Automation and the platform: interface
// references, BSTRs and VARIANTs, and (as one-line aliases of UniqueAny) every
// other handle with the function that closes it. None of them throws.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <utility>

#include "support/UniqueAny.h"

namespace qor {

// Holds one reference to an interface; releases it when replaced or destroyed.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference to p.
    explicit ComPtr(T* p) : p_(p) { if (p_) p_->AddRef(); }
    ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept { std::swap(p_, other.p_); return *this; }
    ~ComPtr() { reset(); }

    // Adopts a reference that the caller already owns.
    static ComPtr Attach(T* p) { ComPtr c; c.p_ = p; return c; }
    T* detach() { return std::exchange(p_, nullptr); }
    void reset() { if (T* p = std::exchange(p_, nullptr)) p->Release(); }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Out-parameter access: releases what is held first.
    T** put() { reset(); return &p_; }
    void** put_void() { return reinterpret_cast<void**>(put()); }

    // QueryInterface into another holder.
    template <typename U>
    HRESULT query(ComPtr<U>& out, REFIID iid) const {
        return p_ ? p_->QueryInterface(iid, out.put_void()) : E_POINTER;
    }

    // Hands out a new reference through an out pointer.
    HRESULT copy_to(T** out) const {
        if (!out) return E_POINTER;
        *out = p_;
        if (p_) p_->AddRef();
        return S_OK;
    }

private:
    T* p_ = nullptr;
};

// Owns one BSTR.
class UniqueBstr {
public:
    UniqueBstr() = default;
    explicit UniqueBstr(BSTR b) : b_(b) {}
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;
    UniqueBstr(UniqueBstr&& other) noexcept : b_(std::exchange(other.b_, nullptr)) {}
    UniqueBstr& operator=(UniqueBstr&& other) noexcept { reset(std::exchange(other.b_, nullptr)); return *this; }
    ~UniqueBstr() { reset(); }

    void reset(BSTR b = nullptr) { if (BSTR old = std::exchange(b_, b)) SysFreeString(old); }
    BSTR release() { return std::exchange(b_, nullptr); }
    BSTR get() const { return b_; }
    BSTR* put() { reset(); return &b_; }
    UINT length() const { return SysStringLen(b_); }

private:
    BSTR b_ = nullptr;
};

// Owns one VARIANT: initialised empty, cleared when destroyed.
class UniqueVariant {
public:
    UniqueVariant() { VariantInit(&v_); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    UniqueVariant(UniqueVariant&& other) noexcept : v_(other.release()) {}
    UniqueVariant& operator=(UniqueVariant&& other) noexcept {
        if (this != &other) { VariantClear(&v_); v_ = other.release(); }
        return *this;
    }
    ~UniqueVariant() { VariantClear(&v_); }

    // Adopts a VARIANT that the caller owns (no copy is made).
    static UniqueVariant Attach(const VARIANT& v) { UniqueVariant u; u.v_ = v; return u; }

    HRESULT reset() { return VariantClear(&v_); }
    VARIANT* get() { return &v_; }
    const VARIANT* get() const { return &v_; }
    VARIANT* operator->() { return &v_; }
    const VARIANT* operator->() const { return &v_; }
    // Out-parameter access: clears what is held first.
    VARIANT* put() { VariantClear(&v_); return &v_; }
    // Moves the content out; this holder is left empty.
    VARIANT release() { VARIANT out = v_; VariantInit(&v_); return out; }

private:
    VARIANT v_;
};

// Platform handles, each with its closer.
using UniqueRegKey = UniqueAny<HKEY, &RegCloseKey>;
using UniqueCoTaskString = UniqueAny<wchar_t*, &CoTaskMemFree>;
using UniqueSafeArray = UniqueAny<SAFEARRAY*, &SafeArrayDestroy>;
using UniqueCriticalSection = UniqueAny<CRITICAL_SECTION*, &DeleteCriticalSection>;
using UniqueFile = UniqueAny<FILE*, &fclose>;

// This thread's membership of a COM apartment, left when the owner goes.
inline void LeaveApartment(bool) noexcept { CoUninitialize(); }
using ApartmentMembership = UniqueAny<bool, &LeaveApartment>;
// Enters an apartment of the model; the membership is held only on success.
inline HRESULT EnterApartment(DWORD model, ApartmentMembership& membership) noexcept {
    const HRESULT hr = CoInitializeEx(nullptr, model);
    membership.reset(SUCCEEDED(hr));
    return hr;
}

// A safe array whose data is locked for access; unlocked when the owner goes.
using ArrayDataLock = UniqueAny<SAFEARRAY*, &SafeArrayUnaccessData>;
// Locks array's data and points data at it; on failure the lock stays empty.
inline HRESULT LockArrayData(SAFEARRAY* array, ArrayDataLock& lock, void** data) noexcept {
    lock.reset();
    const HRESULT hr = SafeArrayAccessData(array, data);
    if (SUCCEEDED(hr)) lock.reset(array);
    return hr;
}

// Descriptions a type information or library lends out: the lender and what
// it lent, handed back to the lender when the owner goes.
template <typename Lender, typename Lent>
struct Loan {
    Lender* lender = nullptr;
    Lent* lent = nullptr;
    Lent* operator->() const noexcept { return lent; }
    bool operator==(const Loan&) const = default;
};
inline void GiveBack(Loan<ITypeInfo, TYPEATTR> loan) noexcept { loan.lender->ReleaseTypeAttr(loan.lent); }
inline void GiveBack(Loan<ITypeInfo, FUNCDESC> loan) noexcept { loan.lender->ReleaseFuncDesc(loan.lent); }
inline void GiveBack(Loan<ITypeLib, TLIBATTR> loan) noexcept { loan.lender->ReleaseTLibAttr(loan.lent); }
using UniqueTypeAttr = UniqueAny<Loan<ITypeInfo, TYPEATTR>, static_cast<void (*)(Loan<ITypeInfo, TYPEATTR>)>(&GiveBack)>;
using UniqueFuncDesc = UniqueAny<Loan<ITypeInfo, FUNCDESC>, static_cast<void (*)(Loan<ITypeInfo, FUNCDESC>)>(&GiveBack)>;
using UniqueLibAttr = UniqueAny<Loan<ITypeLib, TLIBATTR>, static_cast<void (*)(Loan<ITypeLib, TLIBATTR>)>(&GiveBack)>;

// Borrow what a lender lends (GetTypeAttr, GetFuncDesc, GetLibAttr) into an
// owner that hands it back; on failure the owner stays empty.
inline HRESULT GetTypeAttr(ITypeInfo* info, UniqueTypeAttr& owner) noexcept {
    TYPEATTR* attr = nullptr;
    const HRESULT hr = info->GetTypeAttr(&attr);
    owner.reset(SUCCEEDED(hr) ? Loan<ITypeInfo, TYPEATTR>{info, attr} : Loan<ITypeInfo, TYPEATTR>{});
    return hr;
}
inline HRESULT GetFuncDesc(ITypeInfo* info, UINT index, UniqueFuncDesc& owner) noexcept {
    FUNCDESC* func = nullptr;
    const HRESULT hr = info->GetFuncDesc(index, &func);
    owner.reset(SUCCEEDED(hr) ? Loan<ITypeInfo, FUNCDESC>{info, func} : Loan<ITypeInfo, FUNCDESC>{});
    return hr;
}
inline HRESULT GetLibAttr(ITypeLib* lib, UniqueLibAttr& owner) noexcept {
    TLIBATTR* attr = nullptr;
    const HRESULT hr = lib->GetLibAttr(&attr);
    owner.reset(SUCCEEDED(hr) ? Loan<ITypeLib, TLIBATTR>{lib, attr} : Loan<ITypeLib, TLIBATTR>{});
    return hr;
}

// The strings an EXCEPINFO holds, freed when it goes out of scope.
struct OwnedExcepInfo : EXCEPINFO {
    OwnedExcepInfo() noexcept : EXCEPINFO{} {}
    OwnedExcepInfo(const OwnedExcepInfo&) = delete;
    OwnedExcepInfo& operator=(const OwnedExcepInfo&) = delete;
    ~OwnedExcepInfo() {
        SysFreeString(bstrSource);
        SysFreeString(bstrDescription);
        SysFreeString(bstrHelpFile);
    }
};

}  // namespace qor
