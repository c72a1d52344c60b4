#pragma once
// Describes one uploaded file to scripts: the path the browser sent, the
// temporary file that holds the data, its size, and (IQORFileInfo2) the bare
// file name, the part's content type and a way to save a copy. Fixed at
// creation. It does not own the temporary file.
#include <windows.h>
#include <oleauto.h>

#include <memory>

#include "com/ComHolders.h"
#include "automation/ComObject.h"
#include "automation/DualDispatch.h"
#include "uploadLib.h"

namespace qor {

class CQORFileInfo final : public DualDispatch<IQORFileInfo2, IQORFileInfo>, private ComObject {
public:
    // Takes ownership of the strings; raises on failure. filesLife is alive
    // exactly as long as the temporary file is kept: SaveAs refuses once it
    // has expired (and always when none is given).
    static ComPtr<CQORFileInfo> Create(UniqueBstr userPath, UniqueBstr tmpPath, LONG size,
                                       UniqueBstr contentType = UniqueBstr(),
                                       std::weak_ptr<const void> filesLife = {});

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE get_UserPath(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_TmpPath(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_Size(LONG* pVal) override;

    HRESULT STDMETHODCALLTYPE get_FileName(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_ContentType(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE SaveAs(BSTR path, VARIANT_BOOL overwrite) override;

private:
    CQORFileInfo(UniqueBstr userPath, UniqueBstr tmpPath, LONG size, UniqueBstr contentType,
                 std::weak_ptr<const void> filesLife) noexcept
        : userPath_(std::move(userPath)), tmpPath_(std::move(tmpPath)), contentType_(std::move(contentType)),
          filesLife_(std::move(filesLife)), size_(size) {}
    ~CQORFileInfo() override = default;

    UniqueBstr userPath_;
    UniqueBstr tmpPath_;
    UniqueBstr contentType_;
    std::weak_ptr<const void> filesLife_;
    LONG size_;
};

}  // namespace qor
