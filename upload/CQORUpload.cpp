#include "upload/CQORUpload.h"

#include "upload/AlarmReport.h"
#include "parse/ParseLimits.h"
#include "automation/ReportError.h"
#include "upload/RequestBody.h"
#include "automation/ThreadCodePage.h"
#include "upload/UploadFactory.h"
#include "upload/ProgressSection.h"
#include "upload/UploadProgress.h"
#include "support/XAlarm.h"
#include "automation/Arguments.h"
#include "com/Failure.h"
#include "automation/CQORFileInfo.h"
#include "automation/CQORVariantCollection.h"
#include "automation/VariantOps.h"

#include <asptlb.h>

#include <new>
#include <optional>
#include <string>
#include <string_view>

namespace qor {
namespace {

// What scripts see in the error description.
constexpr const char kNoScriptingContext[] = "Can't obtain ScriptingContext";
constexpr const char kNoRequest[] = "Can't obtain Request object";
constexpr const char kNotStarted[] = "Function OnStartPage call missed";
constexpr const char kNoServerVariables[] = "Can't obtain server variables";
constexpr const char kNoContentType[] = "Can't obtain content-type";
constexpr const char kNoTotalBytes[] = "Can't obtain total bytes";
constexpr const char kContentTypeNotText[] = "Can't convert content-type";
constexpr const char kBodyNotStored[] = "Can't store the request body";
constexpr const char kBodyNotParsed[] = "Can't parse the request body";
constexpr const char kResultsNotBuilt[] = "Can't build Form and Files";

HRESULT Report(const char* description, HRESULT result) noexcept {
    return ReportError(description, result, GUID_NULL);
}

UniqueVariant TextVariant(const ByteString& text, UINT codePage) {
    return BstrVariant(ToAutomationString(text.Text(), codePage));
}

// What a script sees when the body goes past a limit: the limit, its value,
// and the limit's own code. Without memory for the number, the limit's name
// alone.
HRESULT ReportLimit(const ParseLimitExceeded& limit) noexcept {
    struct Text {
        const char* prefix;
        HRESULT code;
    };
    static constexpr Text kTexts[] = {  // in the order of ParseLimitExceeded::Limit
        {"An uploaded file is larger than MaxFileBytes", QOR_E_FILE_TOO_LARGE},
        {"The request holds more files than MaxFiles", QOR_E_TOO_MANY_FILES},
        {"The request holds more values than MaxParts", QOR_E_TOO_MANY_PARTS},
    };
    const Text& text = kTexts[static_cast<int>(limit.Which())];
    char description[96];
    wsprintfA(description, "%s (%lu)", text.prefix, static_cast<unsigned long>(limit.Value()));
    return Report(description, text.code);
}

}  // namespace

CQORUpload::CQORUpload(IUnknown* outer) : inner_(*this), controlling_(outer ? outer : &inner_) {}

// Read with a progress ID but no chunk size of the page's, the body comes in
// chunks of this size, so that there is progress to see.
constexpr LONG kProgressChunkBytes = 65536;

CQORUpload::~CQORUpload() {
    // Dictionaries a script still holds live on, and so do their file infos;
    // the temporary files they name die with the parser, right after this body.
    form_.reset();
    files_.reset();
    request_.reset();
}

HRESULT CQORUpload::Create(IUnknown* outer, REFIID iid, void** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    // An aggregate can hold its inner object only by the inner unknown; any
    // other interface would count its reference on the outer object.
    if (outer && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;

    CQORUpload* object = nullptr;
    try {
        object = new CQORUpload(outer);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
    // The temporary reference keeps the object alive while it is completed;
    // dropping it destroys the object when anything failed.
    object->inner_.AddRef();
    HRESULT hr = object->CreateDictionaries();
    if (SUCCEEDED(hr)) hr = object->inner_.QueryInterface(iid, out);
    object->inner_.Release();
    return hr;
}

HRESULT CQORUpload::CreateDictionaries() noexcept {
    return CallBoundary([&] {
        form_ = CQORFormDictionary::Create();
        files_ = CQORVariantDictionary::Create();
        filesLife_ = std::make_shared<const int>(0);
        return S_OK;
    });
}

HRESULT CQORUpload::InnerUnknown::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown)) {
        *out = static_cast<IUnknown*>(this);
    } else if (IsEqualIID(iid, IID_IQORUpload3) || IsEqualIID(iid, IID_IQORUpload2) ||
               IsEqualIID(iid, IID_IQORUpload) || IsEqualIID(iid, IID_IDispatch)) {
        *out = static_cast<IQORUpload3*>(&owner_);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(*out)->AddRef();
    return S_OK;
}

ULONG CQORUpload::InnerUnknown::AddRef() { return owner_.AddRefImpl(); }
ULONG CQORUpload::InnerUnknown::Release() { return owner_.ReleaseImpl(); }

HRESULT CQORUpload::QueryInterface(REFIID iid, void** out) { return controlling_->QueryInterface(iid, out); }

HRESULT CQORUpload::OnStartPage(IUnknown* piUnk) {
    if (!piUnk) return E_POINTER;
    ComPtr<IScriptingContext> context;
    HRESULT hr = piUnk->QueryInterface(IID_IScriptingContext, context.put_void());
    if (FAILED(hr) || !context) return Report(kNoScriptingContext, hr);

    // A new page replaces the Request of the last one, which goes first.
    request_.reset();
    IRequest* request = nullptr;
    hr = context->get_Request(&request);
    // What a failed call wrote is not a reference of ours.
    if (FAILED(hr)) return Report(kNoRequest, hr);
    request_ = ComPtr<IRequest>::Attach(request);
    started_ = true;
    return S_OK;
}

HRESULT CQORUpload::OnEndPage() {
    started_ = false;
    request_.reset();
    return S_OK;
}

// What ProcessPostData reads of the request before it parses: the content
// type as 8-bit text, and the body, whole in the host's locked array or
// asked for chunk by chunk as the parse goes.
struct CQORUpload::PostedRequest {
    std::string contentType;
    std::optional<ChunkedRequestInput> body;
};

namespace {

// Reports a failed host call with the description of what it was for.
HRESULT ReportIfFailed(const char* description, HRESULT hr) noexcept {
    return FAILED(hr) ? Report(description, hr) : hr;
}

// Runs one phase of ProcessPostData. A failure it returns has been reported
// already; what it raises is reported here: the support library's alarms,
// the limits and the host's body failures with their own descriptions,
// anything else with the phase's.
template <typename Phase>
HRESULT RunPhase(const char* phaseDescription, Phase&& phase) noexcept {
    try {
        return phase();
    } catch (const XAlarm& alarm) {
        // A temporary file that cannot be created or written: its own text
        // says what happened and to which file.
        return ReportAlarm(alarm);
    } catch (const ParseLimitExceeded& limit) {
        return ReportLimit(limit);
    } catch (const BodyReadFailure& failure) {
        return Report(failure.description.c_str(), failure.code);
    } catch (const AutomationFailure& failure) {
        return Report(phaseDescription, failure.code());
    } catch (const std::bad_alloc&) {
        return Report(phaseDescription, E_OUTOFMEMORY);
    } catch (...) {
        return Report(phaseDescription, E_UNEXPECTED);
    }
}

}  // namespace

HRESULT CQORUpload::ProcessPostData() {
    // A started page whose host handed out no Request has nothing to read.
    if (!started_ || !request_) return Report(kNotStarted, 0);
    // Held for the call, so a host that ends the page meanwhile cannot pull
    // the Request away underneath it.
    const ComPtr<IRequest> request = request_;
    // The record is this object's from the first call with its ID on; an ID
    // that cannot be published (taken, or too many) leaves the call as it is.
    if (!progressId_.empty() && !progress_) progress_ = ProgressSection::Publish(progressId_);
    UploadProgress progress(progress_.get(), codePage_);
    const HRESULT hr = Process(*request.get(), progress);
    progress.Finish(hr);
    return hr;
}

HRESULT CQORUpload::Process(IRequest& request, UploadProgress& progress) {
    // A call that fails leaves nothing behind: what its parse added to the
    // lists, and the temporary files it made, go again.
    PostDataParser::Savepoint savepoint(parser_);
    {
        PostedRequest posted;
        RETURN_IF_FAILED(RunPhase(kBodyNotStored, [&] { return ReadRequest(request, posted, progress); }));
        RETURN_IF_FAILED(RunPhase(kBodyNotParsed, [&] {
            parser_.Parse(posted.contentType.c_str(), *posted.body, Limits(), &progress);
            return S_OK;
        }));
    }  // the host's array goes before the results are built
    RETURN_IF_FAILED(RunPhase(kResultsNotBuilt, [&] {
        RebuildResults();
        return S_OK;
    }));
    savepoint.Commit();
    return S_OK;
}

ParseLimits CQORUpload::Limits() const noexcept {
    return ParseLimits{static_cast<uint32_t>(maxFileBytes_), static_cast<uint32_t>(maxFiles_),
                       static_cast<uint32_t>(maxParts_)};
}

// Host failures are reported here and returned; what is raised is reported
// by the phase. The host's references of the call are gone when it returns.
HRESULT CQORUpload::ReadRequest(IRequest& request, PostedRequest& posted, UploadProgress& progress) {
    ComPtr<IRequestDictionary> variables;
    HRESULT hr = request.get_ServerVariables(variables.put());
    if (FAILED(hr) || !variables) return Report(kNoServerVariables, hr);

    UniqueVariant key = BstrVariant(UniqueBstr(SysAllocString(L"CONTENT_TYPE")));
    if (!V_BSTR(key.get())) return Report(kNoContentType, E_OUTOFMEMORY);
    UniqueVariant contentType;
    RETURN_IF_FAILED(ReportIfFailed(kNoContentType, variables->get_Item(*key.get(), contentType.put())));
    if (V_VT(contentType.get()) != VT_BSTR)
        RETURN_IF_FAILED(ReportIfFailed(kContentTypeNotText,
                                        VariantChangeType(contentType.get(), contentType.get(), 0, VT_BSTR)));

    LONG total = 0;
    RETURN_IF_FAILED(ReportIfFailed(kNoTotalBytes, request.get_TotalBytes(&total)));
    progress.Begin(total);
    // An oversized body is refused before any of it is read.
    if (maxTotalBytes_ != 0 && total > maxTotalBytes_) {
        char description[96];
        wsprintfA(description, "The request body of %ld bytes is larger than MaxTotalBytes (%ld)",
                  static_cast<long>(total), static_cast<long>(maxTotalBytes_));
        return Report(description, QOR_E_BODY_TOO_LARGE);
    }

    // Characters without a mapping become the code page's default character;
    // text that does not convert at all counts as no content type.
    const BSTR wide = V_BSTR(contentType.get());
    hr = AnsiFromWide(ThreadAnsiCodePage(), std::wstring_view(wide ? wide : L"", SysStringLen(wide)),
                      posted.contentType);
    if (hr == E_OUTOFMEMORY) return Report(kContentTypeNotText, hr);
    if (FAILED(hr)) posted.contentType.clear();

    // With ReadChunkBytes (or a progress ID) the parse asks for each chunk as
    // it needs it. Otherwise, and for an empty body, the whole body is one
    // chunk, asked for now and parsed where the host's array holds it,
    // locked until the parse is done. The reader raises the host's failures.
    const LONG chunk = readChunkBytes_ > 0 ? readChunkBytes_ : progressId_.empty() ? 0 : kProgressChunkBytes;
    const bool whole = chunk <= 0 || total <= 0;
    posted.body.emplace(request, total, whole ? 0 : chunk, &progress);
    if (whole) posted.body->ReadWhole();
    return S_OK;
}

// Both dictionaries are built aside and swapped in together, so a failure part
// way leaves Form and Files exactly as they were. The new strings and objects
// are handed over, not copied: each ends with the one reference or the one
// copy that its dictionary or collection owns.
//
// What the client sent is converted in the page's chosen code page; the
// temporary paths are the system's own and stay in its ANSI code page.
void CQORUpload::RebuildResults() {
    const UINT codePage = codePage_ != 0 ? codePage_ : CP_ACP;
    auto form = CQORFormDictionary::Create();
    // All names missing from this parse share one empty collection.
    form->SetMissingKeyValue(*DispatchVariant(CQORVariantCollection::Create().get()).get());
    form->SetWholeFormText(ToAutomationString(parser_.FormText().Text(), codePage));
    for (const FormField& field : parser_.Fields()) {
        auto values = CQORVariantCollection::Create();
        for (const ByteString& value : field.values) values->AppendValue(TextVariant(value, codePage));
        form->AppendEntry(TextVariant(field.name, codePage), DispatchVariant(values.get()));
    }

    auto files = CQORVariantDictionary::Create();
    // Every file info of a stored file, this call's and the earlier calls',
    // shares one keeping: a file moved by one of them stays moved for all.
    keeping_.resize(parser_.Files().Count());
    for (uint32_t i = 0; i < parser_.Files().Count(); ++i) {
        const UploadedFile& file = parser_.Files()[i];
        if (!keeping_[i]) {
            keeping_[i] = std::make_shared<StoredFileKeeping>();
            keeping_[i]->handOver = [this, i] { parser_.ReleaseFile(i); };
        }
        auto info = CQORFileInfo::Create(ToAutomationString(file.userPath.Text(), codePage),
                                         ToAutomationString(file.tmpPath.Text()), file.size,
                                         ToAutomationString(file.contentType.Text(), codePage), filesLife_,
                                         keeping_[i]);
        files->AppendEntry(TextVariant(file.fieldName, codePage), DispatchVariant(info.get()));
    }

    form_->SwapContents(*form.get());
    files_->SwapContents(*files.get());
}

HRESULT CQORUpload::get_Form(IQORVariantDictionary** pVal) {
    return form_->QueryInterface(IID_IQORVariantDictionary, reinterpret_cast<void**>(pVal));
}

HRESULT CQORUpload::get_Files(IQORVariantDictionary** pVal) {
    return files_->QueryInterface(IID_IQORVariantDictionary, reinterpret_cast<void**>(pVal));
}

HRESULT CQORUpload::GetSetting(LONG value, LONG* out) noexcept {
    if (!out) return E_POINTER;
    *out = value;
    return S_OK;
}

HRESULT CQORUpload::PutCount(const char* name, LONG value, LONG& setting) noexcept {
    if (value < 0) {
        char description[96];
        wsprintfA(description, "%s cannot be negative (%ld); 0 means no limit", name, static_cast<long>(value));
        return Report(description, E_INVALIDARG);
    }
    setting = value;
    return S_OK;
}

HRESULT CQORUpload::put_MaxTotalBytes(LONG newVal) { return PutCount("MaxTotalBytes", newVal, maxTotalBytes_); }
HRESULT CQORUpload::put_MaxFileBytes(LONG newVal) { return PutCount("MaxFileBytes", newVal, maxFileBytes_); }
HRESULT CQORUpload::put_MaxFiles(LONG newVal) { return PutCount("MaxFiles", newVal, maxFiles_); }
HRESULT CQORUpload::put_MaxParts(LONG newVal) { return PutCount("MaxParts", newVal, maxParts_); }
HRESULT CQORUpload::put_ReadChunkBytes(LONG newVal) { return PutCount("ReadChunkBytes", newVal, readChunkBytes_); }

HRESULT CQORUpload::get_ProgressId(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = SysAllocStringLen(progressId_.data(), static_cast<UINT>(progressId_.size()));
    return *pVal ? S_OK : E_OUTOFMEMORY;
}

// Empty turns publishing off; another ID gives up the record of the last one.
HRESULT CQORUpload::put_ProgressId(BSTR newVal) {
    const std::wstring_view id(newVal ? newVal : L"", SysStringLen(newVal));
    if (!id.empty() && !IsValidProgressId(id))
        return Report("ProgressId must be 16 to 64 characters of A-Z, a-z, 0-9, - and _", E_INVALIDARG);
    if (id == progressId_) return S_OK;
    return CallBoundary([&] {
        progress_.reset();
        progressId_.assign(id);
        return S_OK;
    });
}

HRESULT CQORUpload::get_CodePage(LONG* pVal) { return GetSetting(static_cast<LONG>(codePage_), pVal); }

// 0 keeps the conversions of IQORUpload; any other value must be a code page
// the system can convert from.
HRESULT CQORUpload::put_CodePage(LONG newVal) {
    if (newVal != 0 && (newVal < 0 || !IsValidCodePage(static_cast<UINT>(newVal)))) {
        char description[96];
        wsprintfA(description, "CodePage %ld is not a code page installed on this system", static_cast<long>(newVal));
        return Report(description, E_INVALIDARG);
    }
    codePage_ = static_cast<UINT>(newVal);
    return S_OK;
}

}  // namespace qor

HRESULT CreateUploadObject(IUnknown* outer, REFIID iid, void** out) noexcept {
    return qor::CQORUpload::Create(outer, iid, out);
}
