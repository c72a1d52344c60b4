#include "automation/CQORFileInfo.h"

namespace qor {
namespace {

// A new copy for the caller. A path that cannot be copied is a failure, not an
// empty path: a script must not mistake it for a file without a name.
HRESULT CopyString(BSTR stored, BSTR* out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!stored) return S_OK;
    *out = SysAllocStringByteLen(reinterpret_cast<const char*>(stored), SysStringByteLen(stored));
    return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

ComPtr<CQORFileInfo> CQORFileInfo::Create(UniqueBstr userPath, UniqueBstr tmpPath, LONG size) {
    return ComPtr<CQORFileInfo>(new CQORFileInfo(std::move(userPath), std::move(tmpPath), size));
}

HRESULT CQORFileInfo::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, IID_IQORFileInfo)) {
        *out = static_cast<IQORFileInfo*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT CQORFileInfo::get_UserPath(BSTR* pVal) { return CopyString(userPath_.get(), pVal); }
HRESULT CQORFileInfo::get_TmpPath(BSTR* pVal) { return CopyString(tmpPath_.get(), pVal); }

HRESULT CQORFileInfo::get_Size(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = size_;
    return S_OK;
}

}  // namespace qor
