#include "upload/CQORUploadProgress.h"

#include <ntsecapi.h>

#include <new>
#include <string_view>

#include "automation/CQORProgressInfo.h"
#include "automation/ReportError.h"
#include "com/Failure.h"
#include "upload/ProgressSection.h"
#include "upload/UploadFactory.h"

namespace qor {
namespace {

// The system's cryptographic generator (advapi32's RtlGenRandom): no
// provider to open for every ID.
HRESULT RandomBytes(unsigned char (&bytes)[16]) noexcept {
    return RtlGenRandom(bytes, sizeof bytes) ? S_OK : LastErrorOr();
}

}  // namespace

HRESULT CQORUploadProgress::Create(IUnknown* outer, REFIID iid, void** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* object = new (std::nothrow) CQORUploadProgress;
    if (!object) return E_OUTOFMEMORY;
    object->AddRef();
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

HRESULT CQORUploadProgress::NewId(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    unsigned char random[16];
    if (const HRESULT hr = RandomBytes(random); FAILED(hr))
        return ReportError("Can't make a progress ID: the system's random source failed", hr, GUID_NULL);
    char16_t text[kNewProgressIdLength];
    FormatProgressId(random, text);
    SecureZeroMemory(random, sizeof random);
    *pVal = SysAllocStringLen(reinterpret_cast<const wchar_t*>(text), kNewProgressIdLength);
    return *pVal ? S_OK : E_OUTOFMEMORY;
}

HRESULT CQORUploadProgress::Query(BSTR id, IQORProgressInfo** pVal) {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    const std::wstring_view text(id ? id : L"", SysStringLen(id));
    if (!IsValidProgressId(text))
        return ReportError("A progress ID is 16 to 64 characters of A-Z, a-z, 0-9, - and _", E_INVALIDARG, GUID_NULL);
    ProgressSnapshot snapshot;
    if (!ProgressSection::Read(text, snapshot)) snapshot = ProgressSnapshot();
    return CallBoundary([&] {
        return CQORProgressInfo::Create(snapshot)->QueryInterface(IID_IQORProgressInfo, reinterpret_cast<void**>(pVal));
    });
}

}  // namespace qor

HRESULT CreateProgressObject(IUnknown* outer, REFIID iid, void** out) noexcept {
    return qor::CQORUploadProgress::Create(outer, iid, out);
}
