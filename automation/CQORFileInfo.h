#pragma once
// Describes one uploaded file to scripts: the path the browser sent, the
// temporary file that holds the data, and its size. Fixed at creation. It does
// not own the temporary file.
#include <windows.h>
#include <oleauto.h>

#include "automation/ComHolders.h"
#include "automation/ComObject.h"
#include "automation/DualDispatch.h"
#include "uploadLib.h"

namespace qor {

class CQORFileInfo final : public DualDispatch<IQORFileInfo>, private ComObject {
public:
    // Takes ownership of both strings; raises on failure.
    static ComPtr<CQORFileInfo> Create(UniqueBstr userPath, UniqueBstr tmpPath, LONG size);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE get_UserPath(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_TmpPath(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_Size(LONG* pVal) override;

private:
    CQORFileInfo(UniqueBstr userPath, UniqueBstr tmpPath, LONG size) noexcept
        : userPath_(std::move(userPath)), tmpPath_(std::move(tmpPath)), size_(size) {}
    ~CQORFileInfo() override = default;

    UniqueBstr userPath_;
    UniqueBstr tmpPath_;
    LONG size_;
};

}  // namespace qor
