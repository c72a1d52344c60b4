#include "automation/CQORVariantCollection.h"

#include "automation/Arguments.h"
#include "com/Failure.h"
#include "automation/CQORVariantEnum.h"
#include "automation/VariantOps.h"

#include <cstring>
#include <limits>
#include <utility>

namespace qor {

ComPtr<CQORVariantCollection> CQORVariantCollection::Create() {
    return ComPtr<CQORVariantCollection>(new CQORVariantCollection);
}

HRESULT CQORVariantCollection::QueryInterface(REFIID iid, void** out) { return QueryDual(iid, out); }

void CQORVariantCollection::AppendValue(const VARIANT& value) {
    if (V_VT(&value) != VT_BSTR) RaiseFailure(E_INVALIDARG);
    values_.InsertAt(value, values_.count());
}

void CQORVariantCollection::AppendValue(UniqueVariant&& value) {
    if (V_VT(value.get()) != VT_BSTR) RaiseFailure(E_INVALIDARG);
    values_.Append(std::move(value));
}

HRESULT CQORVariantCollection::get_Item(VARIANT var, VARIANT* pVal) {
    if (!pVal) return E_POINTER;
    VariantInit(pVal);
    if (IsMissingArgument(var)) return JoinValues(pVal);
    // There is no lookup by text: anything that is not a valid position is
    // an invalid argument.
    ULONG position = ToPosition(var);
    if (position < 1 || position > values_.count()) return E_INVALIDARG;
    return CopyToOut(values_[position - 1], pVal);
}

// The values joined by single commas; an empty value keeps its separators.
// The text is built in one allocation, byte for byte what concatenating the
// values and separators one after the other gives.
HRESULT CQORVariantCollection::JoinValues(VARIANT* pVal) const noexcept {
    V_VT(pVal) = VT_BSTR;
    V_BSTR(pVal) = nullptr;
    ULONG count = values_.count();
    if (count == 0) return S_OK;
    static constexpr wchar_t separator = L',';
    unsigned long long bytes = (count - 1ull) * sizeof(separator);
    for (const VARIANT& value : values_) bytes += SysStringByteLen(V_BSTR(&value));
    if (bytes > std::numeric_limits<UINT>::max() - sizeof(wchar_t)) {
        VariantInit(pVal);
        return E_OUTOFMEMORY;
    }
    BSTR joined = SysAllocStringByteLen(nullptr, static_cast<UINT>(bytes));
    if (!joined) {
        VariantInit(pVal);
        return E_OUTOFMEMORY;
    }
    auto* out = reinterpret_cast<char*>(joined);
    for (ULONG i = 0; i < count; ++i) {
        BSTR text = V_BSTR(&values_[i]);
        UINT length = SysStringByteLen(text);
        if (length) std::memcpy(out, text, length);
        out += length;
        if (i + 1 < count) {
            std::memcpy(out, &separator, sizeof(separator));
            out += sizeof(separator);
        }
    }
    V_BSTR(pVal) = joined;
    return S_OK;
}

HRESULT CQORVariantCollection::get__NewEnum(IUnknown** pVal) {
    return CQORVariantEnum::CreateSnapshot(values_, pVal);
}

HRESULT CQORVariantCollection::get_Count(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = static_cast<LONG>(values_.count());
    return S_OK;
}

}  // namespace qor
