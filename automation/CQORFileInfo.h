#pragma once
// Describes one uploaded file to scripts: the path the browser sent, the
// temporary file that holds the data, its size, (IQORFileInfo2) the bare
// file name, the part's content type and a way to save a copy, and
// (IQORFileInfo3) a way to move the file out of the upload object's keeping.
// It does not own the temporary file.
#include <windows.h>
#include <oleauto.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "com/ComHolders.h"
#include "automation/ComObject.h"
#include "automation/DualDispatch.h"
#include "uploadLib.h"

namespace qor {

// What every file info of one stored file shares with the upload object that
// stored it: where MoveTo put the file, once it has moved, and how to hand
// the file over so that the upload object no longer deletes it.
struct StoredFileKeeping {
    std::wstring movedTo;            // empty while the upload object keeps the file
    std::function<void()> handOver;  // called once, while the upload object lives
};

// The last segment of a client's path after any backslash, "/" or ":" (a drive
// prefix is a directory part too); "." and ".." give an empty name. What is
// left names a file inside whatever directory it is appended to: FileName,
// and the name an upload's progress shows.
std::wstring_view BareFileName(std::wstring_view path) noexcept;

class CQORFileInfo final : public DualDispatch<IQORFileInfo3, IQORFileInfo>, private ComObject {
public:
    // Takes ownership of the strings; raises on failure. filesLife is alive
    // exactly as long as the temporary file is kept: SaveAs and MoveTo refuse
    // once it has expired (and always when none is given). MoveTo needs
    // keeping too.
    static ComPtr<CQORFileInfo> Create(UniqueBstr userPath, UniqueBstr tmpPath, LONG size,
                                       UniqueBstr contentType = UniqueBstr(),
                                       std::weak_ptr<const void> filesLife = {},
                                       std::shared_ptr<StoredFileKeeping> keeping = {});

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE get_UserPath(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_TmpPath(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_Size(LONG* pVal) override;

    HRESULT STDMETHODCALLTYPE get_FileName(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_ContentType(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE SaveAs(BSTR path, VARIANT_BOOL overwrite) override;

    HRESULT STDMETHODCALLTYPE MoveTo(BSTR path, VARIANT_BOOL overwrite) override;

private:
    CQORFileInfo(UniqueBstr userPath, UniqueBstr tmpPath, LONG size, UniqueBstr contentType,
                 std::weak_ptr<const void> filesLife, std::shared_ptr<StoredFileKeeping> keeping) noexcept
        : userPath_(std::move(userPath)), tmpPath_(std::move(tmpPath)), contentType_(std::move(contentType)),
          filesLife_(std::move(filesLife)), keeping_(std::move(keeping)), size_(size) {}
    ~CQORFileInfo() override = default;

    // Where the file moved to, or null while the upload object keeps it.
    const wchar_t* MovedTo() const noexcept {
        return keeping_ && !keeping_->movedTo.empty() ? keeping_->movedTo.c_str() : nullptr;
    }

    UniqueBstr userPath_;
    UniqueBstr tmpPath_;
    UniqueBstr contentType_;
    std::weak_ptr<const void> filesLife_;
    std::shared_ptr<StoredFileKeeping> keeping_;
    LONG size_;
};

}  // namespace qor
