#pragma once
// One reading of an upload's published progress, as a script sees it: each
// value as a property, and all of them as one JSON object. The values are
// fixed when the object is made. Getters fail only for a null out pointer or
// want of memory.
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "automation/ComObject.h"
#include "automation/DualDispatch.h"
#include "com/ComHolders.h"
#include "support/ProgressRecord.h"
#include "uploadLib.h"

namespace qor {

// The state's name: "unknown", "receiving", "done" or "failed".
const wchar_t* ProgressStateName(ProgressState state) noexcept;
// The snapshot as one JSON object in plain ASCII: every character outside
// printable ASCII, and < > & ' for pages that embed it, as \uXXXX.
std::wstring ProgressJson(const ProgressSnapshot& snapshot);

class CQORProgressInfo final : public DualDispatch<IQORProgressInfo>, private ComObject {
public:
    // Raises std::bad_alloc.
    static ComPtr<CQORProgressInfo> Create(const ProgressSnapshot& snapshot);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return QueryDual(iid, out); }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE get_State(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_BytesReceived(LONG* pVal) override { return Get(snapshot_.bytesReceived, pVal); }
    HRESULT STDMETHODCALLTYPE get_TotalBytes(LONG* pVal) override { return Get(snapshot_.totalBytes, pVal); }
    HRESULT STDMETHODCALLTYPE get_FilesStored(LONG* pVal) override { return Get(snapshot_.filesStored, pVal); }
    HRESULT STDMETHODCALLTYPE get_PercentComplete(LONG* pVal) override { return Get(snapshot_.PercentComplete(), pVal); }
    HRESULT STDMETHODCALLTYPE get_ElapsedMilliseconds(LONG* pVal) override {
        return Get(snapshot_.elapsedMilliseconds, pVal);
    }
    HRESULT STDMETHODCALLTYPE get_ErrorNumber(LONG* pVal) override { return Get(snapshot_.errorNumber, pVal); }
    HRESULT STDMETHODCALLTYPE get_FileName(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_ErrorDescription(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_Json(BSTR* pVal) override;

private:
    explicit CQORProgressInfo(const ProgressSnapshot& snapshot) noexcept : snapshot_(snapshot) {}
    ~CQORProgressInfo() override = default;
    static HRESULT Get(int32_t value, LONG* out) noexcept;

    const ProgressSnapshot snapshot_;
};

}  // namespace qor
