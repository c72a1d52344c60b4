#pragma once
// Small RAII holders for what the C++ code owns of COM and OLE Automation:
// interface references, BSTRs and VARIANTs. None of them throws.
#include <windows.h>
#include <oleauto.h>

#include <utility>

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
