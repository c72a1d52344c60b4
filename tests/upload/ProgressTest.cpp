// ProgressId on the upload object and the progress class, in one process:
// what a call publishes, when it stops answering, and which IDs are refused.
#include "tests/upload/UploadTestSupport.h"

#include "upload/UploadFactory.h"

namespace upload_test {
namespace {

constexpr std::wstring_view kMultipart = L"multipart/form-data; boundary=pRg";
const std::wstring kId = L"0123456789abcdef-_ABCDEF";

std::string FilePart(const std::string& name, size_t size) {
    return "--pRg\r\nContent-Disposition: form-data; name=\"f\"; filename=\"C:\\dir\\" + name + "\"\r\n\r\n" +
           std::string(size, 'x') + "\r\n";
}

ComPtr<IQORUpload3> Third(IQORUpload* upload) {
    ComPtr<IQORUpload3> third;
    EXPECT_EQ(upload->QueryInterface(IID_IQORUpload3, third.put_void()), S_OK);
    return third;
}

ComPtr<IQORUploadProgress> NewProgress() {
    ComPtr<IQORUploadProgress> progress;
    EXPECT_EQ(CreateProgressObject(nullptr, IID_IQORUploadProgress, progress.put_void()), S_OK);
    return progress;
}

// What Query answers for id, as a script reads it.
struct Reading {
    std::wstring state, fileName, error, json;
    LONG bytes = -1, total = -1, files = -1, percent = -1, number = -1;
};
Reading Read(IQORUploadProgress* progress, const std::wstring& id) {
    Reading r;
    ComPtr<IQORProgressInfo> info;
    UniqueBstr bstrId(SysAllocString(id.c_str()));
    EXPECT_EQ(progress->Query(bstrId.get(), info.put()), S_OK);
    if (!info) return r;
    auto text = [&](HRESULT (STDMETHODCALLTYPE IQORProgressInfo::*get)(BSTR*)) {
        UniqueBstr value;
        EXPECT_EQ((info.get()->*get)(value.put()), S_OK);
        return std::wstring(value.get() ? value.get() : L"", value.length());
    };
    r.state = text(&IQORProgressInfo::get_State);
    r.fileName = text(&IQORProgressInfo::get_FileName);
    r.error = text(&IQORProgressInfo::get_ErrorDescription);
    r.json = text(&IQORProgressInfo::get_Json);
    info->get_BytesReceived(&r.bytes);
    info->get_TotalBytes(&r.total);
    info->get_FilesStored(&r.files);
    info->get_PercentComplete(&r.percent);
    info->get_ErrorNumber(&r.number);
    return r;
}

HRESULT PutId(IQORUpload* upload, const std::wstring& id) {
    UniqueBstr text(SysAllocStringLen(id.data(), static_cast<UINT>(id.size())));
    return Third(upload)->put_ProgressId(text.get());
}

using Progress = UploadTest;

TEST_F(Progress, OnlyValidIdsAreTakenOnEitherSide) {
    auto upload = NewUpload();
    auto progress = NewProgress();
    UniqueBstr value;
    EXPECT_EQ(Third(upload.get())->get_ProgressId(value.put()), S_OK);
    EXPECT_EQ(value.length(), 0u) << "empty by default";
    // The refused IDs are the script suite's rows (progress.vbs); here, what
    // a refusal leaves behind on each side.
    ASSERT_EQ(PutId(upload.get(), kId), S_OK);
    EXPECT_EQ(PutId(upload.get(), L"Global\\0123456789abcdef"), E_INVALIDARG);
    EXPECT_NE(TakeErrorInfo().description.find(L"ProgressId"), std::wstring::npos);
    UniqueBstr tooShort(SysAllocString(L"0123456789abcde"));
    ComPtr<IQORProgressInfo> none;
    EXPECT_EQ(progress->Query(tooShort.get(), none.put()), E_INVALIDARG);
    EXPECT_FALSE(none);
    EXPECT_NE(TakeErrorInfo().description.find(L"16 to 64"), std::wstring::npos);
    EXPECT_EQ(Third(upload.get())->get_ProgressId(value.put()), S_OK);
    EXPECT_EQ(std::wstring(value.get()), kId) << "a refused ID leaves the last one";
    // By name, as a script sets it.
    NamedCall refusedByName = CallByName(upload.get(), L"ProgressId", DISPATCH_PROPERTYPUT, {*Text(L"short").get()});
    EXPECT_EQ(refusedByName.scode, E_INVALIDARG);
    EXPECT_EQ(CallByName(upload.get(), L"ProgressId", DISPATCH_PROPERTYPUT, {*Text(L"").get()}).hr, S_OK);

    const Reading unknown = Read(progress.get(), kId);
    EXPECT_EQ(unknown.state, L"unknown");
    EXPECT_EQ(unknown.json, L"{\"state\":\"unknown\",\"bytesReceived\":0,\"totalBytes\":0,\"filesStored\":0,"
                            L"\"percentComplete\":0,\"elapsedMs\":0,\"fileName\":\"\",\"errorNumber\":0,"
                            L"\"errorDescription\":\"\"}");
}

// A call with an ID reads the body in 64 KiB chunks and leaves "done" with
// every count, until the ID changes or the object goes; a failing call
// leaves "failed" with the error the page sees, which stays the page's.
TEST_F(Progress, ACallPublishesWhatItDidUntilTheObjectGoes) {
    auto progress = NewProgress();
    const std::string body = "--pRg\r\nContent-Disposition: form-data; name=\"t\"\r\n\r\nv\r\n" +
                             FilePart("one.bin", 100000) + FilePart("<two> & 'x'.bin", 150000) + "--pRg--\r\n";
    const LONG total = static_cast<LONG>(body.size());
    host.SetReadShape(ReadShape::Stream);  // each read goes on where the last ended
    auto upload = NewUpload();
    ASSERT_EQ(Start(upload.get()), S_OK);
    ASSERT_EQ(PutId(upload.get(), kId), S_OK);
    ASSERT_EQ(Post(upload.get(), kMultipart, body), S_OK);
    EXPECT_EQ(host.Calls(HostStep::BinaryRead), (total + 65535) / 65536);
    Reading done = Read(progress.get(), kId);
    EXPECT_EQ(done.state, L"done");
    EXPECT_EQ(done.bytes, total);
    EXPECT_EQ(done.total, total);
    EXPECT_EQ(done.files, 2);
    EXPECT_EQ(done.percent, 100);
    EXPECT_EQ(done.fileName, L"<two> & 'x'.bin");
    EXPECT_NE(done.json.find(L"\"fileName\":\"\\u003ctwo\\u003e \\u0026 \\u0027x\\u0027.bin\""), std::wstring::npos)
        << done.json;
    EXPECT_NE(done.json.find(L"\"bytesReceived\":" + std::to_wstring(total) + L","), std::wstring::npos);

    // The same ID on a second object is not written over: its call goes on
    // unpublished. Once the first object drops the ID, the record is gone.
    auto second = NewUpload();
    ASSERT_EQ(Start(second.get()), S_OK);
    ASSERT_EQ(PutId(second.get(), kId), S_OK);
    EXPECT_EQ(Post(second.get(), L"application/x-www-form-urlencoded", "a=1"), S_OK);
    EXPECT_EQ(Read(progress.get(), kId).files, 2);
    ASSERT_EQ(PutId(upload.get(), L""), S_OK);
    EXPECT_EQ(Read(progress.get(), kId).state, L"unknown");
    second.reset();

    struct Row {
        const char* what;
        int failingRead;
        LONG maxFileBytes;
        HRESULT number;
        std::wstring description;
        LONG bytes, files;  // bytes -1: wherever the limit was met
    } rows[] = {
        {"the host's read", 3, 0, E_FAIL, L"Can't call BinaryRead", 2 * 65536, 1},
        {"a limit", 0, 120000, QOR_E_FILE_TOO_LARGE, L"An uploaded file is larger than MaxFileBytes (120000)", -1, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        auto failing = NewUpload();
        ASSERT_EQ(Start(failing.get()), S_OK);
        ASSERT_EQ(PutId(failing.get(), kId), S_OK);
        ComPtr<IQORUpload2> limits;
        ASSERT_EQ(failing->QueryInterface(IID_IQORUpload2, limits.put_void()), S_OK);
        limits->put_MaxFileBytes(row.maxFileBytes);
        host.FailNthCall(HostStep::BinaryRead, row.failingRead, E_FAIL);
        EXPECT_EQ(Post(failing.get(), kMultipart, body), row.number);
        const Reading failed = Read(progress.get(), kId);
        EXPECT_EQ(TakeErrorInfo().description, row.description) << "the page's error stays in place";
        EXPECT_EQ(failed.state, L"failed");
        EXPECT_EQ(failed.number, static_cast<LONG>(row.number));
        EXPECT_EQ(failed.error, row.description);
        if (row.bytes >= 0) {
            EXPECT_EQ(failed.bytes, row.bytes);
        }
        EXPECT_GT(failed.bytes, 100000);
        EXPECT_EQ(failed.files, row.files);
        EXPECT_EQ(failed.total, total);
        limits.reset();
        failing.reset();
        EXPECT_EQ(Read(progress.get(), kId).state, L"unknown") << "gone with the object";
    }
    EXPECT_EQ(TempFileCount(), 2u) << "only the first upload's files";
}

// One process publishes a bounded number of records; an upload past the
// bound still succeeds.
TEST_F(Progress, PublishingIsBoundedPerProcess) {
    auto progress = NewProgress();
    std::vector<ComPtr<IQORUpload>> uploads;
    auto idOf = [](size_t i) { return L"bounded-record-" + std::to_wstring(1000 + i); };
    for (size_t i = 0; i <= 256; ++i) {
        uploads.push_back(NewUpload());
        ASSERT_EQ(Start(uploads.back().get()), S_OK);
        ASSERT_EQ(PutId(uploads.back().get(), idOf(i)), S_OK);
        ASSERT_EQ(Post(uploads.back().get(), kUrlEncoded, "a=1"), S_OK);
    }
    EXPECT_EQ(Read(progress.get(), idOf(255)).state, L"done");
    EXPECT_EQ(Read(progress.get(), idOf(256)).state, L"unknown");
    uploads.front().reset();
    ASSERT_EQ(Post(uploads.back().get(), kUrlEncoded, "a=2"), S_OK);
    EXPECT_EQ(Read(progress.get(), idOf(256)).state, L"done") << "a record given back makes room";
}

}  // namespace
}  // namespace upload_test
