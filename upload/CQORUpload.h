#pragma once
// The upload object. The page host hands it the scripting context when the page
// starts (OnStartPage) and takes it back when the page ends (OnEndPage); the
// script calls ProcessPostData to read and parse the request body and then
// reads the posted fields (Form) and stored files (Files). The temporary files
// live exactly as long as this object.
#include <windows.h>
#include <oleauto.h>

#include "PostDataParser.h"
#include "automation/CQORVariantDictionary.h"
#include "automation/ComHolders.h"
#include "automation/ComObject.h"
#include "automation/DualDispatch.h"
#include "uploadLib.h"

struct IRequest;

namespace qor {

class CQORUpload final : public DualDispatch<IQORUpload>, private ComObject {
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

    HRESULT CreateDictionaries() noexcept;
    HRESULT ReadAndParse(const char*& interrupted);
    void RebuildResults();

    InnerUnknown inner_;
    IUnknown* controlling_;  // the outer unknown, or inner_ when not aggregated
    ComPtr<CQORFormDictionary> form_;
    ComPtr<CQORVariantDictionary> files_;
    PostDataParser parser_;
    ComPtr<IRequest> request_;
    bool started_ = false;
};

}  // namespace qor
