#include "automation/CQORVariantEnum.h"

#include "automation/VariantArray.h"

#include <algorithm>
#include <new>

namespace qor {

HRESULT CQORVariantEnum::CreateSnapshot(const VariantArray& source, IUnknown** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto* created = new (std::nothrow) CQORVariantEnum;
    if (!created) return E_OUTOFMEMORY;
    ComPtr<IEnumVARIANT> holder(created);
    // An empty source still gets a (zero-length, non-null) snapshot.
    ULONG count = source.count();
    VARIANT* snapshot = new (std::nothrow) VARIANT[count];
    if (!snapshot) return E_OUTOFMEMORY;
    for (ULONG i = 0; i < count; ++i) {
        VariantInit(&snapshot[i]);
        HRESULT hr = VariantCopy(&snapshot[i], const_cast<VARIANT*>(&source[i]));
        if (FAILED(hr)) {
            for (ULONG k = 0; k <= i; ++k) VariantClear(&snapshot[k]);
            delete[] snapshot;
            return hr;
        }
    }
    created->first_ = created->cursor_ = snapshot;
    created->end_ = snapshot + count;
    created->ownsSnapshot_ = true;
    *out = holder.detach();
    return S_OK;
}

CQORVariantEnum::~CQORVariantEnum() {
    if (ownsSnapshot_) {
        for (VARIANT* element = first_; element != end_; ++element) VariantClear(element);
        delete[] first_;
    }
    // owner_ is released after the snapshot is gone: a clone's snapshot
    // belongs to its owner.
}

HRESULT CQORVariantEnum::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumVARIANT)) {
        *out = static_cast<IEnumVARIANT*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT CQORVariantEnum::Next(ULONG celt, VARIANT* rgelt, ULONG* pceltFetched) {
    if (pceltFetched) *pceltFetched = 0;
    if (celt == 0) return E_INVALIDARG;
    if (!rgelt || (celt > 1 && !pceltFetched)) return E_POINTER;
    if (!first_ || !end_ || !cursor_) return E_FAIL;
    ULONG remaining = Remaining();
    ULONG fetched = std::min(celt, remaining);
    VARIANT* start = cursor_;
    for (ULONG i = 0; i < fetched; ++i) {
        // The output slots are out parameters: whatever they held is not ours.
        VariantInit(&rgelt[i]);
        HRESULT hr = VariantCopy(&rgelt[i], cursor_);
        if (FAILED(hr)) {
            for (ULONG k = 0; k <= i; ++k) VariantClear(&rgelt[k]);
            // Nothing was handed out, so nothing is passed over: the next call
            // delivers the same elements again.
            cursor_ = start;
            return hr;
        }
        ++cursor_;
    }
    if (pceltFetched) *pceltFetched = fetched;
    return celt > remaining ? S_FALSE : S_OK;
}

HRESULT CQORVariantEnum::Skip(ULONG celt) {
    if (celt == 0) return E_INVALIDARG;
    ULONG remaining = Remaining();
    cursor_ += std::min(celt, remaining);
    return celt > remaining ? S_FALSE : S_OK;
}

HRESULT CQORVariantEnum::Reset() {
    cursor_ = first_;
    return S_OK;
}

HRESULT CQORVariantEnum::Clone(IEnumVARIANT** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    auto* clone = new (std::nothrow) CQORVariantEnum;
    if (!clone) return E_OUTOFMEMORY;
    ComPtr<IEnumVARIANT> holder(clone);
    // Every clone refers to the enumerator that owns the array, never to
    // another clone, so releasing clones in any order frees it exactly once.
    clone->owner_ = ownsSnapshot_ ? ComPtr<IUnknown>(static_cast<IEnumVARIANT*>(this)) : owner_;
    clone->first_ = first_;
    clone->end_ = end_;
    clone->cursor_ = cursor_;
    *ppEnum = holder.detach();
    return S_OK;
}

}  // namespace qor
