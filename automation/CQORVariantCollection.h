#pragma once
// The text values of one form field, in posted order: read by position, all
// together as one comma-joined text (Item without an argument), counted and
// enumerated. Filled once by the upload object, read-only for scripts.
#include <windows.h>
#include <oleauto.h>

#include "com/ComHolders.h"
#include "automation/ComObject.h"
#include "automation/DualDispatch.h"
#include "automation/VariantArray.h"
#include "uploadLib.h"

namespace qor {

class CQORVariantCollection final : public DualDispatch<IQORVariantCollection>, private ComObject {
public:
    // A new, empty collection; raises on failure.
    static ComPtr<CQORVariantCollection> Create();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE get_Item(VARIANT var, VARIANT* pVal) override;
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** pVal) override;
    HRESULT STDMETHODCALLTYPE get_Count(LONG* pVal) override;

    // Appends a copy of a VT_BSTR value; anything else raises E_INVALIDARG.
    void AppendValue(const VARIANT& value);
    // The same, taking the value over instead of copying it.
    void AppendValue(UniqueVariant&& value);

private:
    CQORVariantCollection() : values_(16) {}
    ~CQORVariantCollection() override = default;

    HRESULT JoinValues(VARIANT* pVal) const noexcept;

    VariantArray values_;
};

}  // namespace qor
