#pragma once
// The dictionaries behind Form and Files: ordered entries of a key (a field
// name) and a value, read by exact key or by 1-based position. Keys need not
// be unique. Filled by the upload object, read-only for scripts.
#include <windows.h>
#include <oleauto.h>

#include "com/ComHolders.h"
#include "automation/ComObject.h"
#include "automation/DualDispatch.h"
#include "automation/VariantArray.h"
#include "uploadLib.h"

#include <utility>

namespace qor {

class CQORVariantDictionary : public DualDispatch<IQORVariantDictionary>, private ComObject {
public:
    // A new, empty dictionary whose missing-key value is VT_EMPTY; raises on failure.
    static ComPtr<CQORVariantDictionary> Create();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE get_Item(VARIANT var, VARIANT* pVal) override;
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** pVal) override;
    HRESULT STDMETHODCALLTYPE get_Count(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE get_Key(VARIANT var, VARIANT* pVal) override;

    // Filling, by the upload object. These raise on failure.
    // Forgets every entry; the old values are released as slots are reused.
    void ResetEntries() noexcept;
    // Appends a copy of key (VT_BSTR, else E_INVALIDARG) and of value; on
    // failure neither is added.
    void AppendEntry(const VARIANT& key, const VARIANT& value);
    // The same, taking key and value over instead of copying them; on
    // failure neither is added.
    void AppendEntry(UniqueVariant&& key, UniqueVariant&& value);
    // What Item gives for a key or position that matches nothing.
    void SetMissingKeyValue(const VARIANT& value);
    // Exchanges entries and missing-key value with other, which cannot fail:
    // a refill built aside in a new dictionary is swapped in whole, so a
    // failure while building leaves this dictionary as it was.
    void SwapContents(CQORVariantDictionary& other) noexcept;

protected:
    CQORVariantDictionary() : keys_(16), values_(16) {}
    ~CQORVariantDictionary() override = default;

private:
    // Member order is destruction order in reverse: the missing-key value is
    // released first, then the values, then the keys.
    VariantArray keys_;
    VariantArray values_;
    UniqueVariant missingKeyValue_;
};

// The Form dictionary: Item without an argument gives the whole-form text.
class CQORFormDictionary final : public CQORVariantDictionary {
public:
    // A new, empty dictionary whose whole-form text is the empty string.
    static ComPtr<CQORFormDictionary> Create();

    HRESULT STDMETHODCALLTYPE get_Item(VARIANT var, VARIANT* pVal) override;

    // Takes ownership of the new text; the old one is freed.
    void SetWholeFormText(UniqueBstr text) noexcept { wholeFormText_ = std::move(text); }
    // Also exchanges the whole-form text.
    void SwapContents(CQORFormDictionary& other) noexcept {
        CQORVariantDictionary::SwapContents(other);
        std::swap(wholeFormText_, other.wholeFormText_);
    }

private:
    CQORFormDictionary();
    ~CQORFormDictionary() override = default;

    UniqueBstr wholeFormText_;
};

}  // namespace qor
