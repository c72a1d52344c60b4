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
    // What a page may set: the code page, limits the body stays within, and
    // the chunk size (chunked rows read from a host that answers as a stream).
    struct Settings {
        LONG codePage = 0, maxTotalBytes = 0, maxFileBytes = 0, maxFiles = 0, maxParts = 0, readChunkBytes = 0;
    };
    struct Request {
        const wchar_t* contentType;
        std::string body;
        Settings settings;
    };
    const std::string multipart =
        "--b\r\nContent-Disposition: form-data; name=\"c\"\r\n\r\n4\r\n"
        "--b\r\nContent-Disposition: form-data; name=\"f\"; filename=\"one.txt\"\r\n\r\n1111\r\n"
        "--b\r\nContent-Disposition: form-data; name=\"f\"; filename=\"two.txt\"\r\n\r\n22\r\n--b--\r\n";
    const std::string multipartUtf8 =
        "--b\r\nContent-Disposition: form-data; name=\"caf\xC3\xA9\"\r\n\r\n\xE6\x97\xA5\xFF\r\n"
        "--b\r\nContent-Disposition: form-data; name=\"f\"; filename=\"C:\\d\xC3\xA9j\xC3\xA0\\na\xC3\xAFve.txt\"\r\n"
        "Content-Type: text/plain; name=\xC3\xA9\r\n\r\n" + std::string(40, 'x') + "\r\n"
        "--b\r\nContent-Disposition: form-data; name=\"f\"; filename=\"\xE6\x97\xA5.bin\"\r\n\r\n22\r\n--b--\r\n";
    const Settings utf8Chunked{65001, 10000, 1000, 3, 10, 7};
    const Request requests[] = {
        {kUrlEncoded.data(), "c=4&a=5&d=6&e=7&f=8", {}},
        {L"multipart/form-data; boundary=b", multipart, {}},
        {kUrlEncoded.data(), "c=4&caf%C3%A9=%E6%97%A5&d=\xC3\xA9t\xC3\xA9&e=%FF", utf8Chunked},
        {L"multipart/form-data; boundary=b", multipartUtf8, utf8Chunked},
    };
    auto apply = [](IQORUpload* upload, const Settings& settings) {
        ComPtr<IQORUpload2> second;
        ASSERT_EQ(upload->QueryInterface(IID_IQORUpload2, second.put_void()), S_OK);
        ASSERT_EQ(second->put_CodePage(settings.codePage), S_OK);
        ASSERT_EQ(second->put_MaxTotalBytes(settings.maxTotalBytes), S_OK);
        ASSERT_EQ(second->put_MaxFileBytes(settings.maxFileBytes), S_OK);
        ASSERT_EQ(second->put_MaxFiles(settings.maxFiles), S_OK);
        ASSERT_EQ(second->put_MaxParts(settings.maxParts), S_OK);
        ASSERT_EQ(second->put_ReadChunkBytes(settings.readChunkBytes), S_OK);
    };
    // BSTRs, safe arrays and the platform's own task memory fail in turn too.
    const TaskMemoryCounted taskMemory;
    std::set<std::wstring> seen;
    for (const Request& request : requests) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(request.contentType)) + " chunk " +
                     std::to_string(request.settings.readChunkBytes));
        host.SetReadShape(request.settings.readChunkBytes ? ReadShape::Stream : ReadShape::ByteArray);
        FormView before, after;
        std::vector<FileView> filesBefore;
        size_t filesAfter = 0;
        for (long n = 0;; ++n) {  // 0: no failure, for the outcome to compare with
            ASSERT_LT(n, 10000);
            SCOPED_TRACE(testing::Message() << "allocation " << n);
            {
                ComPtr<IQORUpload> upload = NewUpload();
                ASSERT_EQ(Start(upload.get()), S_OK);
                apply(upload.get(), request.settings);
                ASSERT_EQ(Post(upload.get(), request.contentType, request.body), S_OK);
                if (n == 0) {
                    before = ReadForm(upload.get());
                    filesBefore = WithoutTmpPaths(ReadFiles(upload.get()));
                }
                host.SetBody(request.body);  // a stream starts again
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
                host.SetBody(request.body);
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

// Reading FileName and ContentType, and SaveAs, with out of memory at each
// allocation in turn: a failed read hands out nothing, a failed save says so
// and leaves no file at the destination nor a temporary copy beside it, and
// the stored file, later reads and a later save are untouched by it.
TEST_F(UploadTest, FileInfoOutOfMemoryIsReportedAndChangesNothing) {
    const std::string data(20000, 'd');
    const std::string body =
        "--b\r\nContent-Disposition: form-data; name=\"f\"; filename=\"C:\\d\xC3\xA9j\xC3\xA0\\na\xC3\xAFve.txt\"\r\n"
        "Content-Type: text/plain; name=\xC3\xA9\r\n\r\n" + data + "\r\n--b--\r\n";
    ComPtr<IQORUpload> upload = NewUpload();
    ASSERT_EQ(Start(upload.get()), S_OK);
    ComPtr<IQORUpload2> second;
    ASSERT_EQ(upload->QueryInterface(IID_IQORUpload2, second.put_void()), S_OK);
    ASSERT_EQ(second->put_CodePage(65001), S_OK);
    ASSERT_EQ(Post(upload.get(), L"multipart/form-data; boundary=b", body), S_OK);
    ComPtr<IQORVariantDictionary> files;
    ASSERT_EQ(upload->get_Files(files.put()), S_OK);
    UniqueVariant entry;
    ASSERT_EQ(files->get_Item(*Int(1).get(), entry.put()), S_OK);
    ComPtr<IQORFileInfo2> info;
    ASSERT_EQ(V_DISPATCH(entry.get())->QueryInterface(IID_IQORFileInfo2, info.put_void()), S_OK);
    const std::wstring stored = ReadFiles(upload.get()).at(0).tmpPath;
    const TaskMemoryCounted taskMemory;

    using Getter = HRESULT (STDMETHODCALLTYPE IQORFileInfo2::*)(BSTR*);
    const std::pair<Getter, std::wstring> reads[] = {{&IQORFileInfo2::get_FileName, L"na\u00EFve.txt"},
                                                     {&IQORFileInfo2::get_ContentType, L"text/plain; name=\u00E9"}};
    for (const auto& [getter, expected] : reads) {
        SCOPED_TRACE(testing::PrintToString(expected));
        int failures = 0;
        for (long n = 1;; ++n) {
            ASSERT_LT(n, 100);
            BSTR text = reinterpret_cast<BSTR>(&n);  // must be overwritten
            PlanAllocationFailure(n);
            const HRESULT hr = (info.get()->*getter)(&text);
            const bool struck = PlannedAllocationFailed();
            PlanAllocationFailure(0);
            const UniqueBstr owned(hr == S_OK ? text : nullptr);
            if (!struck) {
                ASSERT_EQ(hr, S_OK);
                EXPECT_EQ(std::wstring(owned.get(), owned.length()), expected);
                break;
            }
            ++failures;
            EXPECT_EQ(hr, E_OUTOFMEMORY);
            EXPECT_EQ(text, nullptr);
        }
        EXPECT_GE(failures, 1) << "the copy handed out allocates";
    }

    // By name, as a script reads them: a failure that brings no description
    // of its own must not pass off the thread's earlier one as its own.
    for (const wchar_t* name : {L"FileName", L"ContentType"}) {
        for (long n = 1;; ++n) {
            ASSERT_LT(n, 100);
            InstallErrorInfo(L"earlier failure");
            PlanAllocationFailure(n);
            const NamedCall call = CallByName(info.get(), name, DISPATCH_PROPERTYGET);
            const bool struck = PlannedAllocationFailed();
            PlanAllocationFailure(0);
            SetErrorInfo(0, nullptr);
            if (!struck) {
                ASSERT_EQ(call.hr, S_OK) << testing::PrintToString(std::wstring(name));
                break;
            }
            EXPECT_NE(call.description, L"earlier failure") << testing::PrintToString(std::wstring(name)) << " " << n;
        }
    }

    const std::wstring out = TempDirectory() + L"\\saved";
    ASSERT_TRUE(CreateDirectoryW(out.c_str(), nullptr));
    const UniqueBstr target(SysAllocString((out + L"\\copy.bin").c_str()));
    int failures = 0;
    for (long n = 1;; ++n) {
        ASSERT_LT(n, 1000);
        SCOPED_TRACE(testing::Message() << "allocation " << n);
        InstallErrorInfo(L"earlier failure");
        PlanAllocationFailure(n);
        const HRESULT hr = info->SaveAs(target.get(), VARIANT_FALSE);
        const bool struck = PlannedAllocationFailed();
        PlanAllocationFailure(0);
        if (!struck) {
            ASSERT_EQ(hr, S_OK);
            EXPECT_EQ(FileBytes(target.get()), data);
            EXPECT_EQ(FilesIn(out), 1u);
            break;
        }
        ++failures;
        EXPECT_EQ(hr, E_OUTOFMEMORY);
        const ErrorInfo error = TakeErrorInfo();
        EXPECT_EQ(error.description.rfind(L"Can't save the uploaded file", 0), 0u)
            << testing::PrintToString(error.description);
        EXPECT_EQ(FilesIn(out), 0u) << "no partial file and no temporary copy";
        EXPECT_EQ(FileBytes(stored), data);
    }
    EXPECT_GE(failures, 1) << "the save allocates";
    // Again, without overwrite: refused, the copy untouched; with it, saved.
    EXPECT_EQ(info->SaveAs(target.get(), VARIANT_FALSE), HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(info->SaveAs(target.get(), VARIANT_TRUE), S_OK);
    EXPECT_EQ(FileBytes(target.get()), data);
    EXPECT_EQ(FilesIn(out), 1u);
    TakeErrorInfo();
    DeleteFileW(target.get());
    RemoveDirectoryW(out.c_str());
}

}  // namespace upload_test
