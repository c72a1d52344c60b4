#pragma once
// IDispatch for the component's dual interfaces, served from the registered
// type library: the type information of each interface is loaded once (under
// the module's critical section) and kept for the module's life together with
// a table of its member names for exact-case lookups.
#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <initializer_list>
#include <type_traits>

namespace qor {

struct DispatchTypeInfo;
using DispatchTypeInfoSlot = std::atomic<DispatchTypeInfo*>;

HRESULT DispatchGetTypeInfo(DispatchTypeInfoSlot& slot, REFIID iid, LCID lcid, ITypeInfo** out) noexcept;
HRESULT DispatchGetIDsOfNames(DispatchTypeInfoSlot& slot, REFIID iid, REFIID riid, LPOLESTR* names,
                              UINT nameCount, LCID lcid, DISPID* ids) noexcept;
HRESULT DispatchInvoke(DispatchTypeInfoSlot& slot, REFIID iid, IUnknown* self, DISPID id, REFIID riid,
                       LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                       UINT* argError) noexcept;

// Drops every cached type information; for module teardown only, when no
// object can call any more.
void ReleaseDispatchTypeInfo() noexcept;

// Base of an implementation class of the dual interface I. Names are looked
// up and calls dispatched through I's description, so every member of I is
// reachable by name; GetTypeInfo hands out Described's, the interface the
// object has always shown. An object that gained members through a derived
// interface keeps the old one there, so a page's TypeName still answers the
// old name.
template <typename I, typename Described = I>
class DualDispatch : public I {
    static_assert(std::is_base_of_v<Described, I>, "the described interface is I or one of its bases");

public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    // There is one type description, so the index is not looked at.
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID lcid, ITypeInfo** out) override {
        return DispatchGetTypeInfo(DescribedSlot(), __uuidof(Described), lcid, out);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT nameCount, LCID lcid,
                                            DISPID* ids) override {
        return DispatchGetIDsOfNames(slot_, __uuidof(I), riid, names, nameCount, lcid, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argError) override {
        return DispatchInvoke(slot_, __uuidof(I), static_cast<I*>(this), id, riid, lcid, flags, params,
                              result, exception, argError);
    }

protected:
    // QueryInterface of an object whose one dual interface is I: it answers
    // IUnknown, IDispatch, I and the interfaces I derives from (`bases`).
    HRESULT QueryDual(REFIID iid, void** out, std::initializer_list<IID> bases = {}) noexcept {
        if (!out) return E_POINTER;
        bool answered = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, __uuidof(I));
        for (const IID& base : bases) answered = answered || IsEqualIID(iid, base);
        if (!answered) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<I*>(this);
        static_cast<I*>(this)->AddRef();
        return S_OK;
    }

private:
    static DispatchTypeInfoSlot& DescribedSlot() noexcept {
        if constexpr (std::is_same_v<I, Described>) return slot_;
        else return describedSlot_;
    }

    static inline DispatchTypeInfoSlot slot_{nullptr};
    static inline DispatchTypeInfoSlot describedSlot_{nullptr};
};

}  // namespace qor
