#pragma once
// The enumerator that _NewEnum hands out: it walks a snapshot of the source's
// elements, so later changes to the source do not reach it. Clones share the
// snapshot and keep the enumerator that owns it alive.
#include <windows.h>
#include <oleauto.h>

#include "com/ComHolders.h"
#include "automation/ComObject.h"

namespace qor {

class VariantArray;

class CQORVariantEnum final : public IEnumVARIANT, private ComObject {
public:
    // _NewEnum: an enumerator over a copy of source's elements, as IUnknown.
    static HRESULT CreateSnapshot(const VariantArray& source, IUnknown** out) noexcept;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, VARIANT* rgelt, ULONG* pceltFetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** ppEnum) override;

private:
    CQORVariantEnum() = default;
    ~CQORVariantEnum() override;

    ULONG Remaining() const noexcept { return static_cast<ULONG>(end_ - cursor_); }

    ComPtr<IUnknown> owner_;  // the enumerator whose snapshot a clone uses
    VARIANT* first_ = nullptr;
    VARIANT* end_ = nullptr;
    VARIANT* cursor_ = nullptr;
    bool ownsSnapshot_ = false;
};

}  // namespace qor
