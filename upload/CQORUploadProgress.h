#pragma once
// The progress class: makes progress IDs for pages, and reads what an upload
// object publishes under one (from this process or another of the session).
// An invalid ID is E_INVALIDARG with a description that says what an ID is;
// a failure of the system's random source is reported with its own error.
#include <windows.h>
#include <oleauto.h>

#include "automation/ComObject.h"
#include "automation/DualDispatch.h"
#include "uploadLib.h"

namespace qor {

class CQORUploadProgress final : public DualDispatch<IQORUploadProgress>, private ComObject {
public:
    // The instance creator behind CreateProgressObject (UploadFactory.h).
    static HRESULT Create(IUnknown* outer, REFIID iid, void** out) noexcept;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return QueryDual(iid, out); }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    // 32 characters of lower-case hexadecimal: 128 bits of the system's
    // cryptographic random source.
    HRESULT STDMETHODCALLTYPE NewId(BSTR* pVal) override;
    // A snapshot; State "unknown" and zeros when nothing is published under id.
    HRESULT STDMETHODCALLTYPE Query(BSTR id, IQORProgressInfo** pVal) override;

private:
    CQORUploadProgress() = default;
    ~CQORUploadProgress() override = default;
};

}  // namespace qor
