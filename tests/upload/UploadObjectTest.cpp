// The upload object as the class object creates it and as the page host drives
// it: identity and aggregation, page states, and every failure it reports.
#include "tests/upload/UploadTestSupport.h"

#include "upload/UploadFactory.h"
#include "com/Module.h"

#include <asptlb.h>

using namespace qor;

namespace upload_test {
namespace {

// An aggregating object on the test's stack: it counts its references and
// hands interface requests other than IUnknown to the inner object.
class Outer : public IUnknown {
public:
    IUnknown* inner = nullptr;
    LONG refs() const { return refs_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        if (inner) return inner->QueryInterface(iid, out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }

private:
    LONG refs_ = 1;
};

struct FailureRow {
    HostStep step;
    const wchar_t* description;
    bool inStartPage;  // else ProcessPostData
};

const FailureRow kFailureRows[] = {
    {HostStep::QueryScriptingContext, L"Can't obtain ScriptingContext", true},
    {HostStep::GetRequest, L"Can't obtain Request object", true},
    {HostStep::GetServerVariables, L"Can't obtain server variables", false},
    {HostStep::GetItem, L"Can't obtain content-type", false},
    {HostStep::GetTotalBytes, L"Can't obtain total bytes", false},
    {HostStep::BinaryRead, L"Can't call BinaryRead", false},
};

HRESULT RowCode(size_t row) { return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x300 + row); }

const wchar_t kNotStarted[] = L"Function OnStartPage call missed";

}  // namespace

TEST_F(UploadTest, CreatedAloneItAnswersForItselfOnly) {
    const LONG locks = qor::ModuleLockCount();
    EXPECT_EQ(CreateUploadObject(nullptr, IID_IQORUpload, nullptr), E_POINTER);
    void* out = &out;
    EXPECT_EQ(CreateUploadObject(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(qor::ModuleLockCount(), locks) << "a failed creation left a lock";

    ComPtr<IQORUpload> upload = NewUpload();
    ASSERT_TRUE(upload);
    EXPECT_EQ(qor::ModuleLockCount(), locks + 3);  // the object and its two dictionaries
    ComPtr<IDispatch> dispatch;
    ComPtr<ISupportErrorInfo> errorSupport;
    EXPECT_EQ(upload.query(dispatch, IID_IDispatch), S_OK);
    EXPECT_EQ(upload.query(errorSupport, IID_ISupportErrorInfo), E_NOINTERFACE);
    EXPECT_EQ(Identity(upload.get()).get(), Identity(dispatch.get()).get());
    EXPECT_EQ(upload->get_Form(nullptr), E_POINTER);
    EXPECT_EQ(upload->get_Files(nullptr), E_POINTER);
    EXPECT_FALSE(TakeErrorInfo().present) << "the getters set no error information";
    EXPECT_EQ(upload->AddRef(), 3u);  // the test's two and this one
    EXPECT_EQ(upload->Release(), 2u);
    dispatch.reset();
    upload.reset();
    EXPECT_EQ(qor::ModuleLockCount(), locks);
}

TEST_F(UploadTest, AggregatedItDelegatesToTheOuterObject) {
    const LONG locks = qor::ModuleLockCount();
    Outer outer;
    void* out = &out;
    EXPECT_EQ(CreateUploadObject(&outer, IID_IQORUpload, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(qor::ModuleLockCount(), locks);

    ComPtr<IUnknown> inner;
    ASSERT_EQ(CreateUploadObject(&outer, IID_IUnknown, inner.put_void()), S_OK);
    outer.inner = inner.get();
    EXPECT_NE(static_cast<void*>(inner.get()), static_cast<void*>(&outer));
    EXPECT_EQ(outer.refs(), 1) << "creation must not count on the outer object";

    {
        // Interfaces taken from the inner unknown count on the outer object.
        ComPtr<IQORUpload> upload;
        ASSERT_EQ(inner->QueryInterface(IID_IQORUpload, upload.put_void()), S_OK);
        EXPECT_EQ(outer.refs(), 2);
        EXPECT_EQ(Identity(upload.get()).get(), static_cast<IUnknown*>(&outer));
        EXPECT_EQ(outer.refs(), 2);

        ASSERT_EQ(Start(upload.get()), S_OK);
        ASSERT_EQ(Post(upload.get(), kUrlEncoded, "a=1"), S_OK);
        EXPECT_EQ(ReadForm(upload.get()), Fields(L"a=1", {{L"a", {L"1"}}}));
        EXPECT_EQ(upload->OnEndPage(), S_OK);
    }
    EXPECT_EQ(outer.refs(), 1);
    // The inner unknown keeps the object's own count.
    EXPECT_EQ(inner->AddRef(), 2u);
    EXPECT_EQ(inner->Release(), 1u);
    outer.inner = nullptr;
    inner.reset();
    EXPECT_EQ(qor::ModuleLockCount(), locks);
    EXPECT_EQ(outer.refs(), 1);
}

TEST_F(UploadTest, ProcessPostDataOnlyBetweenStartAndEndOfThePage) {
    ComPtr<IQORUpload> upload = NewUpload();
    EXPECT_EQ(upload->ProcessPostData(), DISP_E_EXCEPTION);
    ErrorInfo error = TakeErrorInfo();
    EXPECT_TRUE(error.present);
    EXPECT_EQ(error.description, kNotStarted);
    EXPECT_EQ(error.source, L"");
    EXPECT_EQ(host.Calls(HostStep::GetServerVariables), 0);

    ASSERT_EQ(Start(upload.get()), S_OK);
    EXPECT_EQ(host.LiveObjects(), 1) << "only the Request is kept";
    ASSERT_EQ(Post(upload.get(), kUrlEncoded, "a=1"), S_OK);
    EXPECT_FALSE(TakeErrorInfo().present);
    EXPECT_EQ(host.LiveObjects(), 1) << "the server variables are released";

    EXPECT_EQ(upload->OnEndPage(), S_OK);
    EXPECT_EQ(host.LiveObjects(), 0);
    EXPECT_EQ(upload->OnEndPage(), S_OK);
    EXPECT_EQ(Post(upload.get(), kUrlEncoded, "a=2"), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeErrorInfo().description, kNotStarted);
    EXPECT_EQ(host.Calls(HostStep::GetServerVariables), 1) << "the host is not asked after the page ended";
    EXPECT_EQ(ReadForm(upload.get()), Fields(L"a=1", {{L"a", {L"1"}}}));

    // Every start replaces the Request of the one before.
    ASSERT_EQ(Start(upload.get()), S_OK);
    ASSERT_EQ(Start(upload.get()), S_OK);
    EXPECT_EQ(host.Calls(HostStep::GetRequest), 3);
    EXPECT_EQ(host.LiveObjects(), 1);
    ASSERT_EQ(Post(upload.get(), kUrlEncoded, "a=2"), S_OK);
    EXPECT_EQ(ReadForm(upload.get()), Fields(L"a=1,2", {{L"a", {L"1", L"2"}}}));
}

TEST_F(UploadTest, AStartWithoutARequestLeavesNothingToRead) {
    // get_Request failing on a started page, or succeeding with no object:
    // the earlier Request is gone and there is none to call through.
    for (bool nullAnswer : {false, true}) {
        SCOPED_TRACE(nullAnswer ? "null answer" : "failure");
        ComPtr<IQORUpload> upload = NewUpload();
        ASSERT_EQ(Start(upload.get()), S_OK);
        ASSERT_EQ(Post(upload.get(), kUrlEncoded, "a=1"), S_OK);
        const HRESULT failure = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x2FF);
        if (nullAnswer)
            host.SetNullAnswer(HostStep::GetRequest);
        else
            host.SetStepResult(HostStep::GetRequest, failure);
        EXPECT_EQ(Start(upload.get()), nullAnswer ? S_OK : failure);
        EXPECT_EQ(host.LiveObjects(), 0);
        host.SetNullAnswer(HostStep::GetRequest, false);
        host.SetStepResult(HostStep::GetRequest, S_OK);
        SetErrorInfo(0, nullptr);

        const int asked = host.Calls(HostStep::GetServerVariables);
        EXPECT_EQ(Post(upload.get(), kUrlEncoded, "a=9"), DISP_E_EXCEPTION);
        EXPECT_EQ(TakeErrorInfo().description, kNotStarted);
        EXPECT_EQ(host.Calls(HostStep::GetServerVariables), asked);

        ASSERT_EQ(Start(upload.get()), S_OK);
        ASSERT_EQ(Post(upload.get(), kUrlEncoded, "a=2"), S_OK);
        EXPECT_EQ(ReadForm(upload.get()), Fields(L"a=1,2", {{L"a", {L"1", L"2"}}}));
    }
}

TEST_F(UploadTest, HostAnswersWithoutAnObjectAreFailures) {
    ComPtr<IQORUpload> upload = NewUpload();
    host.SetNullAnswer(HostStep::QueryScriptingContext);
    EXPECT_EQ(Start(upload.get()), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeErrorInfo().description, L"Can't obtain ScriptingContext");
    EXPECT_EQ(host.Calls(HostStep::GetRequest), 0);
    EXPECT_EQ(Post(upload.get(), kUrlEncoded, "a=1"), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeErrorInfo().description, kNotStarted);
    host.SetNullAnswer(HostStep::QueryScriptingContext, false);

    ASSERT_EQ(Start(upload.get()), S_OK);
    host.SetNullAnswer(HostStep::GetServerVariables);
    EXPECT_EQ(Post(upload.get(), kUrlEncoded, "a=1"), DISP_E_EXCEPTION);
    EXPECT_EQ(TakeErrorInfo().description, L"Can't obtain server variables");
    EXPECT_EQ(host.Calls(HostStep::GetItem), 0);
    EXPECT_EQ(ReadForm(upload.get()), Fields(L"", {}));
}

TEST_F(UploadTest, NullScriptingContextGivesEPointerAndKeepsTheThreadErrorInformation) {
    ComPtr<IQORUpload> upload = NewUpload();
    InstallErrorInfo(L"earlier failure");
    EXPECT_EQ(upload->OnStartPage(nullptr), E_POINTER);
    EXPECT_EQ(TakeErrorInfo().description, L"earlier failure");
    EXPECT_EQ(upload->ProcessPostData(), DISP_E_EXCEPTION) << "a rejected start does not start the page";
}

TEST_F(UploadTest, EveryHostFailureIsReportedWithItsCodeAndChangesNothing) {
    for (size_t row = 0; row < std::size(kFailureRows); ++row) {
        const FailureRow& failure = kFailureRows[row];
        SCOPED_TRACE(testing::Message() << "row " << row);
        ComPtr<IQORUpload> upload = NewUpload();
        ASSERT_EQ(Start(upload.get()), S_OK);
        ASSERT_EQ(Post(upload.get(), kUrlEncoded, "a=1"), S_OK);
        ComPtr<IQORVariantDictionary> formBefore, filesBefore;
        upload->get_Form(formBefore.put());
        upload->get_Files(filesBefore.put());

        host.SetBody("a=9");
        host.SetStepResult(failure.step, RowCode(row));
        const HRESULT hr = failure.inStartPage ? Start(upload.get()) : upload->ProcessPostData();
        EXPECT_EQ(hr, RowCode(row));
        const ErrorInfo error = TakeErrorInfo();
        EXPECT_TRUE(error.present);
        EXPECT_EQ(error.description, failure.description);
        EXPECT_EQ(error.source, L"") << "the class is not registered";
        // Only the Request that the object keeps is still held; a failed
        // get_Request has released the earlier one.
        EXPECT_EQ(host.LiveObjects(), failure.step == HostStep::GetRequest ? 0 : 1);
        host.SetStepResult(failure.step, S_OK);

        EXPECT_EQ(ReadForm(upload.get()), Fields(L"a=1", {{L"a", {L"1"}}}));
        EXPECT_TRUE(ReadFiles(upload.get()).empty());
        ComPtr<IQORVariantDictionary> formAfter, filesAfter;
        upload->get_Form(formAfter.put());
        upload->get_Files(filesAfter.put());
        EXPECT_EQ(formAfter.get(), formBefore.get());
        EXPECT_EQ(filesAfter.get(), filesBefore.get());

        // Nothing of the failed call reached the parser.
        if (failure.step == HostStep::GetRequest) {
            ASSERT_EQ(Start(upload.get()), S_OK);
        }
        ASSERT_EQ(Post(upload.get(), kUrlEncoded, "a=2"), S_OK);
        EXPECT_EQ(ReadForm(upload.get()), Fields(L"a=1,2", {{L"a", {L"1", L"2"}}}));
    }
}

TEST_F(UploadTest, FailuresByNameReachTheCallerWithCodeAndDescription) {
    ComPtr<IQORUpload> upload = NewUpload();
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(upload.query(dispatch, IID_IDispatch), S_OK);

    NamedCall call = CallByName(dispatch.get(), L"ProcessPostData", DISPATCH_METHOD);
    EXPECT_EQ(call.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(call.scode, DISP_E_EXCEPTION);
    EXPECT_EQ(call.description, kNotStarted);
    EXPECT_EQ(call.source, L"");
    SetErrorInfo(0, nullptr);

    for (size_t row = 0; row < std::size(kFailureRows); ++row) {
        const FailureRow& failure = kFailureRows[row];
        SCOPED_TRACE(testing::Message() << "row " << row);
        {
            ComPtr<IUnknown> context = host.NewScriptingContext();
            ASSERT_EQ(CallByName(dispatch.get(), L"OnStartPage", DISPATCH_METHOD, {*Unknown(context.get()).get()}).hr,
                      S_OK);
        }
        host.SetStepResult(failure.step, RowCode(row));
        if (failure.inStartPage) {
            ComPtr<IUnknown> context = host.NewScriptingContext();
            call = CallByName(dispatch.get(), L"OnStartPage", DISPATCH_METHOD, {*Unknown(context.get()).get()});
        } else {
            call = CallByName(dispatch.get(), L"ProcessPostData", DISPATCH_METHOD);
        }
        EXPECT_EQ(call.hr, DISP_E_EXCEPTION);
        EXPECT_EQ(call.scode, RowCode(row));
        EXPECT_EQ(call.description, failure.description);
        EXPECT_EQ(call.source, L"");
        SetErrorInfo(0, nullptr);
        host.SetStepResult(failure.step, S_OK);
        EXPECT_EQ(CallByName(dispatch.get(), L"OnEndPage", DISPATCH_METHOD).hr, S_OK);
        EXPECT_EQ(host.LiveObjects(), 0);
    }
    EXPECT_EQ(ReadForm(upload.get()), Fields(L"", {}));
}

}  // namespace upload_test
