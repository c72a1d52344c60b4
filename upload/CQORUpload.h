#pragma once
// The upload object. The page host hands it the scripting context when the page
// starts (OnStartPage) and takes it back when the page ends (OnEndPage); the
// script calls ProcessPostData to read and parse the request body and then
// reads the posted fields (Form) and stored files (Files). The temporary files
// live exactly as long as this object. IQORUpload2 adds what a page may opt
// into: the code page of the text, limits, and reading the body in chunks;
// IQORUpload3 publishes a call's progress under a page's progress ID, for
// as long as this object lives.
//
// Code pages, deliberately split: the text the client sent (field names,
// values, the whole-form text, user paths, file names and part content
// types) becomes UTF-16 in the system ANSI code page, or in CodePage when a
// page set one; temporary paths are the system's own and always use the
// system ANSI code page; the request's CONTENT_TYPE is narrowed in the
// calling thread's ANSI code page, and error descriptions are widened in it.
// Pages and hosts rely on each of these: do not unify them.
#include <windows.h>
#include <oleauto.h>

#include <memory>
#include <string>
#include <vector>

#include "parse/PostDataParser.h"
#include "automation/CQORFileInfo.h"
#include "automation/CQORVariantDictionary.h"
#include "com/ComHolders.h"
#include "automation/ComObject.h"
#include "automation/DualDispatch.h"
#include "uploadLib.h"

struct IRequest;

namespace qor {

class ProgressSection;
class UploadProgress;

class CQORUpload final : public DualDispatch<IQORUpload3, IQORUpload>, private ComObject {
public:
    // The instance creator behind CreateUploadObject (UploadFactory.h).
    static HRESULT Create(IUnknown* outer, REFIID iid, void** out) noexcept;

    // IUnknown of IQORUpload: the controlling unknown answers, which is the
    // aggregate's outer unknown when the object is aggregated.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return controlling_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return controlling_->Release(); }

    HRESULT STDMETHODCALLTYPE OnStartPage(IUnknown* piUnk) override;
    HRESULT STDMETHODCALLTYPE OnEndPage() override;
    HRESULT STDMETHODCALLTYPE ProcessPostData() override;
    HRESULT STDMETHODCALLTYPE get_Form(IQORVariantDictionary** pVal) override;
    HRESULT STDMETHODCALLTYPE get_Files(IQORVariantDictionary** pVal) override;

    HRESULT STDMETHODCALLTYPE get_CodePage(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_CodePage(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_MaxTotalBytes(LONG* pVal) override { return GetSetting(maxTotalBytes_, pVal); }
    HRESULT STDMETHODCALLTYPE put_MaxTotalBytes(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_MaxFileBytes(LONG* pVal) override { return GetSetting(maxFileBytes_, pVal); }
    HRESULT STDMETHODCALLTYPE put_MaxFileBytes(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_MaxFiles(LONG* pVal) override { return GetSetting(maxFiles_, pVal); }
    HRESULT STDMETHODCALLTYPE put_MaxFiles(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_MaxParts(LONG* pVal) override { return GetSetting(maxParts_, pVal); }
    HRESULT STDMETHODCALLTYPE put_MaxParts(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_ReadChunkBytes(LONG* pVal) override { return GetSetting(readChunkBytes_, pVal); }
    HRESULT STDMETHODCALLTYPE put_ReadChunkBytes(LONG newVal) override;

    HRESULT STDMETHODCALLTYPE get_ProgressId(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE put_ProgressId(BSTR newVal) override;

private:
    // The object's own identity and reference count; it never delegates.
    class InnerUnknown final : public IUnknown {
    public:
        explicit InnerUnknown(CQORUpload& owner) noexcept : owner_(owner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;

    private:
        CQORUpload& owner_;
    };

    explicit CQORUpload(IUnknown* outer);
    ~CQORUpload() override;

    struct PostedRequest;

    HRESULT CreateDictionaries() noexcept;
    HRESULT Process(IRequest& request, UploadProgress& progress);
    HRESULT ReadRequest(IRequest& request, PostedRequest& posted, UploadProgress& progress);
    ParseLimits Limits() const noexcept;
    void RebuildResults();
    static HRESULT GetSetting(LONG value, LONG* out) noexcept;
    // Stores a count that must not be negative; 0 means no limit.
    static HRESULT PutCount(const char* name, LONG value, LONG& setting) noexcept;

    InnerUnknown inner_;
    IUnknown* controlling_;  // the outer unknown, or inner_ when not aggregated
    ComPtr<CQORFormDictionary> form_;
    ComPtr<CQORVariantDictionary> files_;
    PostDataParser parser_;
    ComPtr<IRequest> request_;
    bool started_ = false;
    // Alive exactly as long as the temporary files: file infos watch it.
    std::shared_ptr<const int> filesLife_;
    // One for each stored file, shared with its file infos (MoveTo).
    std::vector<std::shared_ptr<StoredFileKeeping>> keeping_;

    UINT codePage_ = 0;  // 0: the system ANSI code page, as IQORUpload converts
    LONG maxTotalBytes_ = 0, maxFileBytes_ = 0, maxFiles_ = 0, maxParts_ = 0;
    LONG readChunkBytes_ = 0;  // 0: the whole body in one BinaryRead
    // Empty: nothing is published. The record is made by the first call
    // with the ID and lives until the ID changes or the object goes.
    std::wstring progressId_;
    std::unique_ptr<ProgressSection> progress_;
};

}  // namespace qor
