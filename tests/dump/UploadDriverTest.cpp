// The dump's driver against a stand-in component served from the type
// library: what it hands the component, what it reads back by name, and how
// a failing call ends the run.
#include "hosts/dump/UploadDriver.h"
#include "hosts/dump/Sha256.h"

#include "automation/Arguments.h"
#include "automation/CQORFileInfo.h"
#include "automation/CQORVariantCollection.h"
#include "automation/CQORVariantDictionary.h"
#include "automation/ComObject.h"
#include "automation/DualDispatch.h"
#include "automation/VariantOps.h"
#include "automation/ReportError.h"
#include "upload/UploadFactory.h"
#include "uploadLib.h"
#include "tests/TargetSystem.h"

#include <asptlb.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace qor;

namespace {

using qor::CQORFileInfo;
using qor::CQORFormDictionary;
using qor::CQORVariantCollection;
using qor::CQORVariantDictionary;

UniqueVariant Text8(const char* text) { return qor::BstrVariant(qor::ToAutomationString(text)); }

// A component that reads each request through the page host interfaces, as
// the real one does, and then applies the next scripted outcome.
class StandIn final : public qor::DualDispatch<IQORUpload>, private qor::ComObject {
public:
    using Outcome = std::function<HRESULT(StandIn&)>;

    static ComPtr<StandIn> Create() {
        auto* object = new StandIn;
        return ComPtr<StandIn>(object);
    }

    std::vector<Outcome> outcomes;
    std::vector<std::string> calls;
    std::vector<std::wstring> contentTypes;
    std::vector<std::string> bodies;
    ComPtr<CQORFormDictionary> form = CQORFormDictionary::Create();
    ComPtr<CQORVariantDictionary> files = CQORVariantDictionary::Create();
    HRESULT startFailure = S_OK;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch) && !IsEqualIID(iid, IID_IQORUpload))
            return E_NOINTERFACE;
        *out = static_cast<IQORUpload*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE OnStartPage(IUnknown* unknown) override {
        calls.push_back("OnStartPage");
        if (FAILED(startFailure)) return ReportError("Can't obtain ScriptingContext", startFailure, GUID_NULL);
        ComPtr<IScriptingContext> context;
        if (!unknown || FAILED(unknown->QueryInterface(IID_IScriptingContext, context.put_void()))) return E_NOINTERFACE;
        return context->get_Request(request_.put());
    }
    HRESULT STDMETHODCALLTYPE OnEndPage() override {
        calls.push_back("OnEndPage");
        request_.reset();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ProcessPostData() override {
        calls.push_back("ProcessPostData");
        if (!request_) return ReportError("Function OnStartPage call missed", 0, GUID_NULL);
        ComPtr<IRequestDictionary> variables;
        HRESULT hr = request_->get_ServerVariables(variables.put());
        if (FAILED(hr)) return hr;
        UniqueVariant key = qor::BstrVariant(UniqueBstr(SysAllocString(L"CONTENT_TYPE"))), type, count, data;
        if (FAILED(hr = variables->get_Item(*key.get(), type.put()))) return hr;
        contentTypes.emplace_back(type->bstrVal, SysStringLen(type->bstrVal));
        LONG total = 0;
        if (FAILED(hr = request_->get_TotalBytes(&total))) return hr;
        count->vt = VT_I4;
        count->lVal = total;
        if (FAILED(hr = request_->BinaryRead(count.get(), data.put()))) return hr;
        bodies.emplace_back(static_cast<const char*>(data->parray->pvData), static_cast<size_t>(total));
        if (outcomes.empty()) return S_OK;
        Outcome next = outcomes.front();
        outcomes.erase(outcomes.begin());
        return next(*this);
    }
    HRESULT STDMETHODCALLTYPE get_Form(IQORVariantDictionary** out) override {
        return form->QueryInterface(IID_IQORVariantDictionary, reinterpret_cast<void**>(out));
    }
    HRESULT STDMETHODCALLTYPE get_Files(IQORVariantDictionary** out) override {
        return files->QueryInterface(IID_IQORVariantDictionary, reinterpret_cast<void**>(out));
    }

    // Form as the component fills it: the whole text, one collection per name.
    void SetForm(const std::vector<std::pair<const char*, std::vector<const char*>>>& fields, const char* text) {
        form->ResetEntries();
        form->SetMissingKeyValue(*qor::DispatchVariant(CQORVariantCollection::Create().get()).get());
        form->SetWholeFormText(qor::ToAutomationString(text));
        for (const auto& [name, values] : fields) {
            auto collection = CQORVariantCollection::Create();
            for (const char* value : values) collection->AppendValue(*Text8(value).get());
            form->AppendEntry(*Text8(name).get(), *qor::DispatchVariant(collection.get()).get());
        }
    }
    void AddFile(const char* field, const char* userPath, const std::string& tmpPath, LONG size,
                 const char* contentType = "") {
        auto info = CQORFileInfo::Create(qor::ToAutomationString(userPath), qor::ToAutomationString(tmpPath.c_str()), size,
                                         qor::ToAutomationString(contentType));
        files->AppendEntry(*Text8(field).get(), *qor::DispatchVariant(info.get()).get());
    }

private:
    StandIn() = default;
    ~StandIn() override = default;
    ComPtr<IRequest> request_;
};

std::wstring SourceForTheClass() {
    LPOLESTR progId = nullptr;
    if (FAILED(ProgIDFromCLSID(CLSID_CQORUpload, &progId))) return L"";
    std::wstring text(progId);
    CoTaskMemFree(progId);
    return text;
}

class UploadDriverTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const std::string& path : paths_) std::remove(path.c_str());
    }
    std::string TempFile(const std::string& bytes) {
        char dir[MAX_PATH], path[MAX_PATH];
        GetTempPathA(MAX_PATH, dir);
        GetTempFileNameA(dir, "qdt", 0, path);
        FILE* file = std::fopen(path, "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
        paths_.push_back(path);
        return path;
    }

private:
    std::vector<std::string> paths_;
};

TEST_F(UploadDriverTest, EachRequestIsOnePageAndTheResultsAreReadByPosition) {
    auto upload = StandIn::Create();
    const std::string stored = TempFile(std::string("stored\0\xFF", 8));
    upload->outcomes = {
        [](StandIn&) { return S_OK; },
        [&stored](StandIn& s) {
            // Field names that are numbers must not be taken for positions.
            s.SetForm({{"2", {"two"}}, {"1", {"one", "", "uno"}}, {"f", {"a.txt", "b.txt"}}}, "2=two;1=one,,uno;f=a.txt,b.txt");
            s.AddFile("f", "C:\\in\\a.txt", stored, 8, "text/plain");
            s.AddFile("f", "b.txt", "C:\\no\\such\\file.tmp", 3);
            return S_OK;
        },
    };
    const std::string binary("--x\r\n\0\xFF\x80", 8);
    DumpReport report;
    EXPECT_TRUE(RunRequests(upload.get(), {{L"text/plain", "a=1"}, {L"multipart/form-data; boundary=x", binary}}, report));
    EXPECT_EQ(upload->calls, (std::vector<std::string>{"OnStartPage", "ProcessPostData", "OnEndPage",
                                                       "OnStartPage", "ProcessPostData", "OnEndPage"}));
    EXPECT_EQ(upload->contentTypes, (std::vector<std::wstring>{L"text/plain", L"multipart/form-data; boundary=x"}));
    EXPECT_EQ(upload->bodies, (std::vector<std::string>{"a=1", binary}));
    EXPECT_EQ(report.result, S_OK);
    EXPECT_FALSE(report.error);

    CallFailure failure;
    ASSERT_EQ(ReadResults(upload.get(), report, failure), S_OK);
    EXPECT_EQ(report.formText, L"2=two;1=one,,uno;f=a.txt,b.txt");
    ASSERT_EQ(report.form.size(), 3u);
    EXPECT_EQ(report.form[0].name, L"2");
    EXPECT_EQ(report.form[0].values, (std::vector<std::wstring>{L"two"}));
    EXPECT_EQ(report.form[1].name, L"1");
    EXPECT_EQ(report.form[1].values, (std::vector<std::wstring>{L"one", L"", L"uno"}));
    EXPECT_EQ(report.form[2].values, (std::vector<std::wstring>{L"a.txt", L"b.txt"}));
    ASSERT_EQ(report.files.size(), 2u);
    EXPECT_EQ(report.files[0].field, L"f");
    EXPECT_EQ(report.files[0].userPath, L"C:\\in\\a.txt");
    EXPECT_EQ(report.files[0].fileName, L"a.txt");
    EXPECT_EQ(report.files[0].contentType, L"text/plain");
    EXPECT_EQ(report.files[0].tmpPath, std::wstring(stored.begin(), stored.end()));
    EXPECT_EQ(report.files[0].size, 8);
    std::string expected;
    ASSERT_EQ(Sha256Hex(std::string("stored\0\xFF", 8), expected), S_OK);
    EXPECT_EQ(report.files[0].sha256, expected);
    EXPECT_EQ(report.files[1].field, L"f");
    EXPECT_EQ(report.files[1].userPath, L"b.txt");
    EXPECT_EQ(report.files[1].contentType, L"");
    EXPECT_EQ(report.files[1].size, 3);
    EXPECT_FALSE(report.files[1].sha256) << "a file that cannot be read has no digest";
}

TEST_F(UploadDriverTest, AFailingProcessPostDataEndsTheRunWithItsCodeAndErrorInformation) {
    auto upload = StandIn::Create();
    upload->outcomes = {[](StandIn& s) {
        s.SetForm({{"kept", {"1"}}}, "kept=1");
        return S_OK;
    }, [](StandIn&) { return ReportError("Can't call BinaryRead", DISP_E_TYPEMISMATCH, GUID_NULL); }};
    DumpReport report;
    EXPECT_FALSE(RunRequests(upload.get(), {{L"a", "1"}, {L"b", "2"}, {L"c", "3"}}, report));
    EXPECT_EQ(upload->bodies.size(), 2u) << "no request after the failing one";
    EXPECT_EQ(upload->calls.back(), "OnEndPage") << "the failing page is still ended";
    EXPECT_EQ(report.result, DISP_E_TYPEMISMATCH);
    ASSERT_TRUE(report.error);
    EXPECT_EQ(report.error->description, L"Can't call BinaryRead");
    EXPECT_EQ(report.error->source, SourceForTheClass());

    CallFailure failure;
    ASSERT_EQ(ReadResults(upload.get(), report, failure), S_OK);
    ASSERT_EQ(report.form.size(), 1u);
    EXPECT_EQ(report.form[0].name, L"kept");
}

TEST_F(UploadDriverTest, ReportsWithoutACodeAndFailedStartsAreFailuresToo) {
    auto upload = StandIn::Create();
    upload->outcomes = {[](StandIn&) { return ReportError("Something went wrong", 0, GUID_NULL); }};
    DumpReport report;
    EXPECT_FALSE(RunRequests(upload.get(), {{L"a", ""}}, report));
    EXPECT_EQ(report.result, DISP_E_EXCEPTION);
    ASSERT_TRUE(report.error);
    EXPECT_EQ(report.error->description, L"Something went wrong");

    auto refused = StandIn::Create();
    refused->startFailure = E_NOINTERFACE;
    DumpReport started;
    EXPECT_FALSE(RunRequests(refused.get(), {{L"a", ""}, {L"b", ""}}, started));
    EXPECT_EQ(refused->calls, std::vector<std::string>{"OnStartPage"});
    EXPECT_EQ(started.result, E_NOINTERFACE);
    ASSERT_TRUE(started.error);
    EXPECT_EQ(started.error->description, L"Can't obtain ScriptingContext");
}

// The settings and the new file members through the real component, made in
// this process and driven by name as the dump does.
struct RealRun {
    bool succeeded = false;
    DumpReport report;
};

RealRun DumpWithRealComponent(const std::vector<DumpSetting>& settings, const std::vector<RequestData>& requests) {
    RealRun run;
    ComPtr<IDispatch> upload;
    EXPECT_EQ(CreateUploadObject(nullptr, IID_IDispatch, upload.put_void()), S_OK);
    if (!upload) return run;
    run.succeeded = ApplySettings(upload.get(), settings, run.report) && RunRequests(upload.get(), requests, run.report);
    CallFailure failure;
    EXPECT_EQ(ReadResults(upload.get(), run.report, failure), S_OK);
    return run;
}

const std::wstring kBoundary = L"multipart/form-data; boundary=B";

std::string Part(const std::string& name, const std::string& data, const char* fileName = nullptr,
                 const char* contentType = nullptr) {
    std::string head = "--B\r\nContent-Disposition: form-data; name=\"" + name + "\"";
    if (fileName) head += "; filename=\"" + std::string(fileName) + "\"";
    if (contentType) head += "\r\nContent-Type: " + std::string(contentType);
    return head + "\r\n\r\n" + data + "\r\n";
}

// Three values, two files, the larger of 5 bytes.
const std::string kParts = Part("a", "1") + Part("f", "12345", "C:\\in\\f.bin", "application/x-test") +
                           Part("g", "ab", "dir/g.txt");
const std::string kMultipart = kParts + "--B--\r\n";

TEST(RealComponent, EachLimitAtItsValueAndOnePastAndRefusedPuts) {
    const LONG total = static_cast<LONG>(kMultipart.size());
    const struct {
        const wchar_t* property;
        LONG value;
        HRESULT expected;
    } rows[] = {
        {L"MaxTotalBytes", total, S_OK}, {L"MaxTotalBytes", total - 1, QOR_E_BODY_TOO_LARGE},
        {L"MaxFileBytes", 5, S_OK},      {L"MaxFileBytes", 4, QOR_E_FILE_TOO_LARGE},
        {L"MaxFiles", 2, S_OK},          {L"MaxFiles", 1, QOR_E_TOO_MANY_FILES},
        {L"MaxParts", 3, S_OK},          {L"MaxParts", 2, QOR_E_TOO_MANY_PARTS},
        {L"MaxParts", -1, E_INVALIDARG}, {L"CodePage", 12345, E_INVALIDARG},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::wstring(row.property) + L" " + std::to_wstring(row.value));
        const RealRun run = DumpWithRealComponent({{row.property, row.value}}, {{kBoundary, kMultipart}});
        EXPECT_EQ(run.succeeded, row.expected == S_OK);
        EXPECT_EQ(run.report.result, row.expected);
        if (row.expected == S_OK) {
            EXPECT_EQ(run.report.files.size(), 2u);
            continue;
        }
        ASSERT_TRUE(run.report.error);
        EXPECT_NE(run.report.error->description.find(row.property), std::wstring::npos) << run.report.error->description;
        EXPECT_TRUE(run.report.form.empty());
        EXPECT_TRUE(run.report.files.empty());
    }
}

TEST(RealComponent, FileMembersCodePageAndChunkedReads) {
    // UTF-8 bytes of e-acute and the euro sign in a value and a file name.
    const std::string utf8 = "\xC3\xA9\xE2\x82\xAC";
    const std::vector<RequestData> requests = {
        {kBoundary, Part("t", utf8) + Part("u", "x", (utf8 + ".txt").c_str(), " text/plain ") + kMultipart}};
    const RealRun plain = DumpWithRealComponent({}, requests);
    ASSERT_TRUE(plain.succeeded);
    ASSERT_EQ(plain.report.files.size(), 3u);
    ASSERT_EQ(plain.report.form.size(), 5u);
    EXPECT_EQ(plain.report.form[0].values, std::vector<std::wstring>{L"\u00c3\u00a9\u00e2\u201a\u00ac"});
    EXPECT_EQ(plain.report.files[0].fileName, L"\u00c3\u00a9\u00e2\u201a\u00ac.txt");
    EXPECT_EQ(plain.report.files[0].contentType, L"text/plain");
    EXPECT_EQ(plain.report.files[1].fileName, L"f.bin");
    EXPECT_EQ(plain.report.files[1].contentType, L"application/x-test");
    EXPECT_EQ(plain.report.files[2].fileName, L"g.txt");
    EXPECT_EQ(plain.report.files[2].contentType, L"");

    const RealRun utf8Run = DumpWithRealComponent({{L"CodePage", 65001}}, requests);
    ASSERT_TRUE(utf8Run.succeeded);
    EXPECT_EQ(utf8Run.report.form.at(0).values, std::vector<std::wstring>{L"\u00e9\u20ac"});
    EXPECT_EQ(utf8Run.report.files.at(0).fileName, L"\u00e9\u20ac.txt");

    // Read in chunks of 7 bytes, the JSON is the same but for the temporary paths.
    RealRun chunked = DumpWithRealComponent({{L"ReadChunkBytes", 7}}, requests);
    ASSERT_TRUE(chunked.succeeded);
    RealRun whole = plain;
    for (RealRun* run : {&chunked, &whole})
        for (FileReport& file : run->report.files) file.tmpPath.clear();
    EXPECT_EQ(ToJson(chunked.report), ToJson(whole.report));
    EXPECT_TRUE(chunked.report.files.at(1).sha256) << "the digests are compared too";
}

// Calls by name need the type library registered: the program carries it as
// resource TYPELIB 1 and registers it for the run unless it already is.
class TypeLibraryEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        ComPtr<ITypeLib> library;
        if (SUCCEEDED(LoadRegTypeLib(LIBID_uploadLib, 2, 0, 0, library.put()))) return;
        wchar_t path[MAX_PATH];
        ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
        ASSERT_HRESULT_SUCCEEDED(LoadTypeLibEx(path, REGKIND_REGISTER, library.put()));
        registered_ = true;
    }
    void TearDown() override {
        qor::ReleaseDispatchTypeInfo();
        if (registered_) UnRegisterTypeLib(LIBID_uploadLib, 2, 0, 0, kBuildSysKind);
        CoUninitialize();
    }

private:
    bool registered_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new TypeLibraryEnvironment);
    return RUN_ALL_TESTS();
}
