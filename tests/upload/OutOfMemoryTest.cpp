// Out of memory at each allocation in turn: creation leaves no object behind,
// and ProcessPostData reports the failure and leaves Form and Files as they
// were, wherever it strikes (host, body copy, parse or the rebuild).
#include "AllocationFaults.h"
#include "UploadTestSupport.h"

#include "UploadFactory.h"
#include "server/Module.h"

#include <set>

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
    const FormView before = Fields(L"a=1,3;b=2", {{L"a", {L"1", L"3"}}, {L"b", {L"2"}}});
    std::set<std::wstring> seen;
    for (long n = 1;; ++n) {
        ASSERT_LT(n, 10000);
        SCOPED_TRACE(testing::Message() << "allocation " << n);
        ComPtr<IQORUpload> upload = NewUpload();
        ASSERT_EQ(Start(upload.get()), S_OK);
        ASSERT_EQ(Post(upload.get(), kUrlEncoded, "a=1&b=2&a=3"), S_OK);
        host.SetBody("c=4&a=5&d=6&e=7&f=8");
        PlanAllocationFailure(n);
        const HRESULT hr = upload->ProcessPostData();
        const bool struck = PlannedAllocationFailed();
        PlanAllocationFailure(0);
        if (!struck) {
            EXPECT_EQ(hr, S_OK);
            EXPECT_EQ(ReadForm(upload.get()).text, L"a=1,3,5;b=2;c=4;d=6;e=7;f=8");
            break;
        }
        EXPECT_EQ(hr, E_OUTOFMEMORY);
        const ErrorInfo error = TakeErrorInfo();
        EXPECT_TRUE(descriptions.count(error.description)) << "described as: " << testing::PrintToString(error.description);
        seen.insert(error.description);
        EXPECT_EQ(ReadForm(upload.get()), before);
        EXPECT_TRUE(ReadFiles(upload.get()).empty());
        EXPECT_EQ(host.LiveObjects(), 1) << "host references of the failed call are still held";
    }
    // The component's own steps were all struck at least once.
    for (const wchar_t* step : {L"Can't store the request body", L"Can't parse the request body",
                                L"Can't build Form and Files"})
        EXPECT_TRUE(seen.count(step)) << testing::PrintToString(std::wstring(step));
}

}  // namespace upload_test
