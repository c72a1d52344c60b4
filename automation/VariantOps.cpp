#include "automation/VariantOps.h"

#include "com/Failure.h"

namespace qor {

void ClearVariant(VARIANT& target) { CheckHr(VariantClear(&target)); }

void CopyVariant(VARIANT& target, const VARIANT& source) {
    CheckHr(VariantCopy(&target, const_cast<VARIANT*>(&source)));
}

HRESULT CopyToOut(const VARIANT& source, VARIANT* out) noexcept {
    // Copy into a private VARIANT first: a failed copy must not leave a
    // half-made value in the caller's slot.
    VARIANT copy;
    VariantInit(&copy);
    HRESULT hr = VariantCopy(&copy, const_cast<VARIANT*>(&source));
    if (FAILED(hr)) {
        VariantClear(&copy);
        VariantInit(out);
        return hr;
    }
    *out = copy;
    return hr;
}

UniqueVariant BstrVariant(UniqueBstr text) noexcept {
    UniqueVariant v;
    V_VT(v.get()) = VT_BSTR;
    V_BSTR(v.get()) = text.release();
    return v;
}

UniqueVariant DispatchVariant(IDispatch* object) noexcept {
    UniqueVariant v;
    if (!object) return v;
    object->AddRef();
    V_VT(v.get()) = VT_DISPATCH;
    V_DISPATCH(v.get()) = object;
    return v;
}

}  // namespace qor
