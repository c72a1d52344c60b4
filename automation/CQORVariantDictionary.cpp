#include "automation/CQORVariantDictionary.h"

#include "automation/Arguments.h"
#include "com/Failure.h"
#include "automation/CQORVariantEnum.h"
#include "automation/VariantOps.h"

#include <cstring>
#include <optional>
#include <utility>

namespace qor {
namespace {

// A key is found only by a string with exactly the same UTF-16 code units:
// no case folding, no trimming. Keys are always VT_BSTR. A string passed by
// reference (not inside a VARIANT) is compared by what it refers to.
bool KeyEquals(const VARIANT& key, const VARIANT& arg) noexcept {
    BSTR wanted;
    if (V_VT(&arg) == VT_BSTR) wanted = V_BSTR(&arg);
    else if (V_VT(&arg) == (VT_BYREF | VT_BSTR) && V_BSTRREF(&arg)) wanted = *V_BSTRREF(&arg);
    else return false;
    BSTR stored = V_BSTR(&key);
    UINT bytes = SysStringByteLen(stored);
    return SysStringByteLen(wanted) == bytes && (bytes == 0 || std::memcmp(stored, wanted, bytes) == 0);
}

}  // namespace

ComPtr<CQORVariantDictionary> CQORVariantDictionary::Create() {
    return ComPtr<CQORVariantDictionary>(new CQORVariantDictionary);
}

HRESULT CQORVariantDictionary::QueryInterface(REFIID iid, void** out) { return QueryDual(iid, out); }

void CQORVariantDictionary::ResetEntries() noexcept {
    keys_.ResetCount();
    values_.ResetCount();
}

void CQORVariantDictionary::AppendEntry(const VARIANT& key, const VARIANT& value) {
    if (V_VT(&key) != VT_BSTR) RaiseFailure(E_INVALIDARG);
    keys_.InsertAt(key, keys_.count());
    try {
        values_.InsertAt(value, values_.count());
    } catch (...) {
        // Keys and values must stay in step.
        keys_.DiscardLast();
        throw;
    }
}

void CQORVariantDictionary::AppendEntry(UniqueVariant&& key, UniqueVariant&& value) {
    if (V_VT(key.get()) != VT_BSTR) RaiseFailure(E_INVALIDARG);
    UniqueVariant ownValue = std::move(value);
    keys_.Append(std::move(key));
    try {
        values_.Append(std::move(ownValue));
    } catch (...) {
        keys_.DiscardLast();
        throw;
    }
}

void CQORVariantDictionary::SetMissingKeyValue(const VARIANT& value) {
    UniqueVariant copy;
    CopyVariant(*copy.get(), value);
    missingKeyValue_ = std::move(copy);
}

void CQORVariantDictionary::SwapContents(CQORVariantDictionary& other) noexcept {
    keys_.Swap(other.keys_);
    values_.Swap(other.values_);
    std::swap(missingKeyValue_, other.missingKeyValue_);
}

HRESULT CQORVariantDictionary::get_Item(VARIANT var, VARIANT* pVal) {
    if (!pVal) return E_POINTER;
    VariantInit(pVal);
    return CallBoundary([&] {
        UniqueVariant wanted;
        CopyVariant(*wanted.get(), var);
        ResolveReference(*wanted.get());
        // A key beats a position: the field named "2" is found by that string.
        for (ULONG i = 0; i < keys_.count(); ++i) {
            if (KeyEquals(keys_[i], *wanted.get())) return CopyToOut(values_[i], pVal);
        }
        // Anything that is neither a key nor a valid position gets the
        // missing-key value.
        ULONG position = ToPosition(var);
        if (position >= 1 && position <= values_.count()) return CopyToOut(values_[position - 1], pVal);
        return CopyToOut(*missingKeyValue_.get(), pVal);
    });
}

HRESULT CQORVariantDictionary::get__NewEnum(IUnknown** pVal) {
    return CQORVariantEnum::CreateSnapshot(keys_, pVal);
}

HRESULT CQORVariantDictionary::get_Count(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = static_cast<LONG>(keys_.count());
    return S_OK;
}

// Key reads by position only; it never searches the keys.
HRESULT CQORVariantDictionary::get_Key(VARIANT var, VARIANT* pVal) {
    if (!pVal) return E_POINTER;
    VariantInit(pVal);
    ULONG position = ToPosition(var);
    if (position < 1 || position > keys_.count()) return S_OK;
    return CopyToOut(keys_[position - 1], pVal);
}

CQORFormDictionary::CQORFormDictionary() : wholeFormText_(SysAllocStringLen(L"", 0)) {
    if (!wholeFormText_.get()) RaiseFailure(E_OUTOFMEMORY);
}

ComPtr<CQORFormDictionary> CQORFormDictionary::Create() {
    return ComPtr<CQORFormDictionary>(new CQORFormDictionary);
}

HRESULT CQORFormDictionary::get_Item(VARIANT var, VARIANT* pVal) {
    if (!pVal) return E_POINTER;
    if (!IsMissingArgument(var)) return CQORVariantDictionary::get_Item(var, pVal);
    VariantInit(pVal);
    BSTR text = SysAllocStringByteLen(reinterpret_cast<const char*>(wholeFormText_.get()),
                                      SysStringByteLen(wholeFormText_.get()));
    if (!text) return E_OUTOFMEMORY;
    V_VT(pVal) = VT_BSTR;
    V_BSTR(pVal) = text;
    return S_OK;
}

}  // namespace qor
