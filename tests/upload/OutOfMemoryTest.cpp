// Out of memory at each allocation in turn: creation leaves no object behind,
// and ProcessPostData reports the failure and leaves Form, Files and the
// temporary files as they were, wherever it strikes (host, body, parse or the
// rebuild), so that the next call shows nothing of it.
#include "tests/upload/AllocationFaults.h"
#include "tests/upload/UploadTestSupport.h"

#include "upload/UploadFactory.h"
#include "com/Module.h"

#include <set>

using namespace qor;

namespace upload_test {

TEST_F(UploadTest, CreationOutOfMemoryLeavesNoObjectAndNoLock) {
    const LONG locks = qor::ModuleLockCount();
    int failures = 0;
    for (long n = 1;; ++n) {
        ASSERT_LT(n, 1000);
        ComPtr<IQORUpload> upload;
        PlanAllocationFailure(n);
        const HRESULT hr = CreateUploadObject(nullptr, IID_IQORUpload, upload.put_void());
        const bool struck = PlannedAllocationFailed();
        PlanAllocationFailure(0);
        if (!struck) {
            EXPECT_EQ(hr, S_OK);
            break;
        }
        ++failures;
        EXPECT_EQ(hr, E_OUTOFMEMORY) << n;
        EXPECT_FALSE(upload) << n;
        EXPECT_EQ(qor::ModuleLockCount(), locks) << n;
    }
    EXPECT_GE(failures, 3) << "the object and both dictionaries allocate";
}

TEST_F(UploadTest, ProcessPostDataOutOfMemoryIsReportedAndChangesNothing) {
    const std::set<std::wstring> descriptions = {
        L"Can't obtain server variables",  // the host's own allocations
        L"Can't obtain content-type",
        L"Can't call BinaryRead",
        L"Can't store the request body",
        L"Can't convert content-type",
        L"Can't parse the request body",
        L"Can't build Form and Files",
    };
    struct Request {
        const wchar_t* contentType;
        std::string body;
    };
    const Request requests[] = {
        {kUrlEncoded.data(), "c=4&a=5&d=6&e=7&f=8"},
        {L"multipart/form-data; boundary=b",
         "--b\r\nContent-Disposition: form-data; name=\"c\"\r\n\r\n4\r\n"
         "--b\r\nContent-Disposition: form-data; name=\"f\"; filename=\"one.txt\"\r\n\r\n1111\r\n"
         "--b\r\nContent-Disposition: form-data; name=\"f\"; filename=\"two.txt\"\r\n\r\n22\r\n--b--\r\n"},
    };
    std::set<std::wstring> seen;
    for (const Request& request : requests) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(request.contentType)));
        FormView before, after;
        std::vector<FileView> filesBefore;
        size_t filesAfter = 0;
        for (long n = 0;; ++n) {  // 0: no failure, for the outcome to compare with
            ASSERT_LT(n, 10000);
            SCOPED_TRACE(testing::Message() << "allocation " << n);
            {
                ComPtr<IQORUpload> upload = NewUpload();
                ASSERT_EQ(Start(upload.get()), S_OK);
                ASSERT_EQ(Post(upload.get(), request.contentType, request.body), S_OK);
                if (n == 0) {
                    before = ReadForm(upload.get());
                    filesBefore = WithoutTmpPaths(ReadFiles(upload.get()));
                }
                PlanAllocationFailure(n);
                const HRESULT hr = upload->ProcessPostData();
                const bool struck = PlannedAllocationFailed();
                PlanAllocationFailure(0);
                if (!struck) {
                    EXPECT_EQ(hr, S_OK);
                    if (n == 0) {
                        after = ReadForm(upload.get());
                        filesAfter = ReadFiles(upload.get()).size();
                        continue;
                    }
                    EXPECT_EQ(ReadForm(upload.get()), after);
                    EXPECT_EQ(ReadFiles(upload.get()).size(), filesAfter);
                    break;
                }
                EXPECT_EQ(hr, E_OUTOFMEMORY);
                const ErrorInfo error = TakeErrorInfo();
                EXPECT_TRUE(descriptions.count(error.description))
                    << "described as: " << testing::PrintToString(error.description);
                seen.insert(error.description);
                EXPECT_EQ(ReadForm(upload.get()), before);
                EXPECT_EQ(WithoutTmpPaths(ReadFiles(upload.get())), filesBefore);
                EXPECT_EQ(TempFileCount(), filesBefore.size()) << "the failed call's files are deleted";
                EXPECT_EQ(host.LiveObjects(), 1) << "host references of the failed call are still held";
                // Nothing of the failed call shows in the next one.
                ASSERT_EQ(upload->ProcessPostData(), S_OK);
                EXPECT_EQ(ReadForm(upload.get()), after);
                EXPECT_EQ(ReadFiles(upload.get()).size(), filesAfter);
            }
            EXPECT_EQ(TempFileCount(), 0u) << "a temporary file outlived its upload object";
        }
    }
    // The component's own steps were all struck at least once.
    for (const wchar_t* step : {L"Can't store the request body", L"Can't parse the request body",
                                L"Can't build Form and Files"})
        EXPECT_TRUE(seen.count(step)) << testing::PrintToString(std::wstring(step));
}

}  // namespace upload_test
