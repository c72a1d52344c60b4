// Uploaded files as scripts see them: Files entries in body order, temporary
// files that live exactly as long as the upload object, and what a file that
// cannot be stored does to the call.
#include "tests/upload/UploadTestSupport.h"
#include "hosts/HostFiles.h"

#include "tests/FileSeams.h"
#include "upload/AlarmReport.h"
#include "support/XAlarm.h"

#include <stdlib.h>

#include <functional>
#include <memory>
#include <optional>

using namespace qor;

namespace upload_test {
namespace {

struct Part {
    std::string name;
    std::optional<std::string> fileName;
    std::string data;
};

std::string MultipartBody(const std::string& boundary, std::initializer_list<Part> parts) {
    std::string body;
    for (const Part& part : parts) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + part.name + "\"";
        if (part.fileName) body += "; filename=\"" + *part.fileName + "\"\r\nContent-Type: application/octet-stream";
        body += "\r\n\r\n" + part.data + "\r\n";
    }
    return body + "--" + boundary + "--\r\n";
}

std::wstring MultipartType(const std::wstring& boundary) { return L"multipart/form-data; boundary=" + boundary; }

std::string ReadFileBytes(const std::wstring& path) {
    std::string bytes;
    EXPECT_HRESULT_SUCCEEDED(ReadWholeFile(path, bytes)) << "cannot open the temporary file";
    return bytes;
}

bool InTempDirectory(const std::wstring& path) {
    const std::wstring directory = TempDirectory() + L"\\";
    return CompareStringOrdinal(path.c_str(), static_cast<int>(directory.size()), directory.c_str(),
                                static_cast<int>(directory.size()), TRUE) == CSTR_EQUAL;
}

// Points TMP (of the process and of its C runtime) at a directory that does
// not exist, or at a file standing in its place, while it lives, so that no
// temporary file can be created.
class UnusableTempDirectory {
public:
    explicit UnusableTempDirectory(bool fileInItsPlace = false)
        : path_(fileInItsPlace ? TempDirectory() + L"-file" : TempDirectory() + L"\\missing"), file_(fileInItsPlace) {
        if (file_) CloseHandle(CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        _wputenv_s(L"TMP", path_.c_str());
    }
    ~UnusableTempDirectory() {
        _wputenv_s(L"TMP", TempDirectory().c_str());
        if (file_) DeleteFileW(path_.c_str());
    }

private:
    std::wstring path_;
    bool file_;
};

const std::string kBinary("\0\x01\xFF\r\n--x\r\n\x80", 11);

}  // namespace

TEST_F(UploadTest, FilePartsBecomeFilesEntriesInBodyOrder) {
    ComPtr<IQORUpload> upload = NewUpload();
    ASSERT_EQ(Start(upload.get()), S_OK);
    const std::string body = MultipartBody("xyz", {
                                                      {"t", std::nullopt, "hello"},
                                                      {"f", "C:\\docs\\a.txt", "AAA\r\nx"},
                                                      {"f", "b.bin", kBinary},
                                                      {"g", "empty.txt", ""},
                                                      {"h", "", "skipped: no file chosen"},
                                                  });
    ASSERT_EQ(Post(upload.get(), MultipartType(L"xyz"), body), S_OK);

    EXPECT_EQ(ReadForm(upload.get()), Fields(L"t=hello;f=C:\\docs\\a.txt,b.bin;g=empty.txt",
                                             {{L"t", {L"hello"}}, {L"f", {L"C:\\docs\\a.txt", L"b.bin"}},
                                              {L"g", {L"empty.txt"}}}));
    const std::vector<FileView> files = ReadFiles(upload.get());
    ASSERT_EQ(files.size(), 3u);
    const std::wstring keys[] = {L"f", L"f", L"g"}, users[] = {L"C:\\docs\\a.txt", L"b.bin", L"empty.txt"};
    const std::string contents[] = {"AAA\r\nx", kBinary, ""};
    for (size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(files[i].key, keys[i]);
        EXPECT_EQ(files[i].userPath, users[i]);
        EXPECT_EQ(files[i].size, static_cast<LONG>(contents[i].size()));
        EXPECT_TRUE(InTempDirectory(files[i].tmpPath)) << testing::PrintToString(files[i].tmpPath);
        EXPECT_EQ(ReadFileBytes(files[i].tmpPath), contents[i]);
    }
    EXPECT_NE(files[0].tmpPath, files[1].tmpPath);
    EXPECT_EQ(TempFileCount(), 3u);

    // By name the first of two equal keys answers; by position each one.
    ComPtr<IQORVariantDictionary> dictionary;
    ASSERT_EQ(upload->get_Files(dictionary.put()), S_OK);
    UniqueVariant byName, second;
    ASSERT_EQ(dictionary->get_Item(*Text(L"f").get(), byName.put()), S_OK);
    ASSERT_EQ(dictionary->get_Item(*Int(2).get(), second.put()), S_OK);
    NamedCall path = CallByName(V_DISPATCH(byName.get()), L"UserPath", DISPATCH_PROPERTYGET);
    EXPECT_EQ(TextOf(*path.result.get()), L"C:\\docs\\a.txt");
    path = CallByName(V_DISPATCH(second.get()), L"UserPath", DISPATCH_PROPERTYGET);
    EXPECT_EQ(TextOf(*path.result.get()), L"b.bin");
    UniqueVariant none;
    ASSERT_EQ(dictionary->get_Item(*Text(L"h").get(), none.put()), S_OK);
    EXPECT_EQ(V_VT(none.get()), VT_EMPTY);
}

TEST_F(UploadTest, TemporaryFilesLiveAsLongAsTheUploadObject) {
    ComPtr<IQORVariantDictionary> files;
    ComPtr<IQORFileInfo> info;
    std::vector<FileView> stored;
    {
        ComPtr<IQORUpload> upload = NewUpload();
        ASSERT_EQ(Start(upload.get()), S_OK);
        ASSERT_EQ(Post(upload.get(), MultipartType(L"b"), MultipartBody("b", {{"f", "one.txt", "1"}})), S_OK);
        // A later body adds its files; the earlier ones stay where they are.
        ASSERT_EQ(Post(upload.get(), MultipartType(L"b"),
                       MultipartBody("b", {{"f", "two.txt", "22"}, {"t", std::nullopt, "x"}})),
                  S_OK);
        stored = ReadFiles(upload.get());
        ASSERT_EQ(stored.size(), 2u);
        EXPECT_EQ(stored[0].userPath, L"one.txt");
        EXPECT_EQ(stored[1].userPath, L"two.txt");
        EXPECT_EQ(ReadFileBytes(stored[0].tmpPath), "1");
        EXPECT_EQ(ReadForm(upload.get()).text, L"f=one.txt,two.txt;t=x");

        EXPECT_EQ(upload->OnEndPage(), S_OK);
        EXPECT_TRUE(FileExists(stored[0].tmpPath)) << "ending the page keeps the files";
        EXPECT_TRUE(FileExists(stored[1].tmpPath));

        ASSERT_EQ(upload->get_Files(files.put()), S_OK);
        UniqueVariant value;
        ASSERT_EQ(files->get_Item(*Int(2).get(), value.put()), S_OK);
        ASSERT_EQ(V_DISPATCH(value.get())->QueryInterface(IID_IQORFileInfo, info.put_void()), S_OK);
    }
    // The upload object is gone; what the script still holds keeps answering,
    // but the files it names are deleted.
    EXPECT_EQ(TempFileCount(), 0u);
    EXPECT_FALSE(FileExists(stored[0].tmpPath));
    EXPECT_FALSE(FileExists(stored[1].tmpPath));
    UniqueBstr tmpPath;
    ASSERT_EQ(info->get_TmpPath(tmpPath.put()), S_OK);
    EXPECT_EQ(std::wstring(tmpPath.get(), tmpPath.length()), stored[1].tmpPath);
    LONG count = 0;
    EXPECT_EQ(files->get_Count(&count), S_OK);
    EXPECT_EQ(count, 2);
}

TEST_F(UploadTest, AFileThatCannotBeStoredFailsTheCallAndLeavesNothingBehind) {
    struct Case {
        const char* name;
        std::function<std::shared_ptr<void>()> fault;  // installed for the failing call
        std::wstring description;
    };
    const Case cases[] = {
        {"creation", [] { return std::make_shared<UnusableTempDirectory>(); }, L"File System: Unable to create file"},
        {"creation where a file stands", [] { return std::make_shared<UnusableTempDirectory>(true); },
         L"File System: Unable to create file"},
        // The first file's one byte is written, the second file's first block is not.
        {"write", [] { return std::make_shared<WriteRecorder>(1); }, L"File System: Unable to write file"},
    };
    const std::string first = MultipartBody("b", {{"f", "kept.txt", "k"}, {"t", std::nullopt, "1"}});
    // Values for fields that exist already and for new ones, and two files.
    const std::string failing = MultipartBody("b", {{"t", std::nullopt, "2"}, {"f", "one.txt", "x"},
                                                    {"u", std::nullopt, "3"}, {"g", "lost.txt", std::string(20000, 'd')}});
    const std::string last = MultipartBody("b", {{"t", std::nullopt, "4"}, {"g", "new.txt", "n"}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // What the first and last bodies give on their own.
        FormView form;
        std::vector<FileView> files;
        {
            ComPtr<IQORUpload> upload = NewUpload();
            ASSERT_EQ(Start(upload.get()), S_OK);
            ASSERT_EQ(Post(upload.get(), MultipartType(L"b"), first), S_OK);
            ASSERT_EQ(Post(upload.get(), MultipartType(L"b"), last), S_OK);
            form = ReadForm(upload.get());
            files = WithoutTmpPaths(ReadFiles(upload.get()));
        }
        ComPtr<IQORUpload> upload = NewUpload();
        ASSERT_EQ(Start(upload.get()), S_OK);
        ASSERT_EQ(Post(upload.get(), MultipartType(L"b"), first), S_OK);
        const FormView formBefore = ReadForm(upload.get());
        const std::vector<FileView> filesBefore = ReadFiles(upload.get());
        {
            const std::shared_ptr<void> fault = c.fault();
            EXPECT_EQ(Post(upload.get(), MultipartType(L"b"), failing), E_FAIL);
        }
        const ErrorInfo error = TakeErrorInfo();
        EXPECT_EQ(error.description, c.description);
        EXPECT_EQ(error.source, L"");
        EXPECT_EQ(ReadForm(upload.get()), formBefore);
        EXPECT_EQ(ReadFiles(upload.get()), filesBefore);
        EXPECT_EQ(ReadFileBytes(filesBefore[0].tmpPath), "k");
        EXPECT_EQ(TempFileCount(), 1u) << "the failed call's files are deleted";
        EXPECT_EQ(host.LiveObjects(), 1) << "the failed call's host references are released";

        // The next call shows nothing of the failed one: no repeated values,
        // no half-written file.
        ASSERT_EQ(Post(upload.get(), MultipartType(L"b"), last), S_OK);
        EXPECT_EQ(ReadForm(upload.get()), form);
        EXPECT_EQ(WithoutTmpPaths(ReadFiles(upload.get())), files);
        EXPECT_EQ(TempFileCount(), 2u);
        upload.reset();
        EXPECT_EQ(TempFileCount(), 0u);
    }
}

TEST_F(UploadTest, AnAlarmIsDescribedByCategoryMessageAndDetail) {
    EXPECT_EQ(ReportAlarm(XFileAlarm("Unable to create file", "C:\\Temp\\t1a2.tmp")), E_FAIL);
    EXPECT_EQ(TakeErrorInfo().description, L"File System: Unable to create file: C:\\Temp\\t1a2.tmp");
    EXPECT_EQ(ReportAlarm(XFileAlarm("Unable to write file", nullptr)), E_FAIL);
    EXPECT_EQ(TakeErrorInfo().description, L"File System: Unable to write file");
}

TEST_F(UploadTest, TheBoundaryIsReadInTheThreadCodePage) {
    // U+0416 is 0xC6 in code page 1251 and has no form in 1252, where it
    // becomes the default character "?".
    const std::wstring boundary = L"\u0416\u0416";
    ComPtr<IQORUpload> upload = NewUpload();
    ASSERT_EQ(Start(upload.get()), S_OK);

    const LCID saved = GetThreadLocale();
    ASSERT_TRUE(SetThreadLocale(MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), SORT_DEFAULT)));
    const HRESULT cyrillic = Post(upload.get(), MultipartType(boundary), MultipartBody("\xC6\xC6", {{"a", std::nullopt, "1"}}));
    SetThreadLocale(saved);
    ASSERT_EQ(cyrillic, S_OK);
    EXPECT_EQ(ReadForm(upload.get()), Fields(L"a=1", {{L"a", {L"1"}}}));

    ASSERT_EQ(GetACP(), 1252u) << "the run's locale did not reach the process";
    ASSERT_EQ(Post(upload.get(), MultipartType(boundary), MultipartBody("??", {{"a", std::nullopt, "2"}})), S_OK);
    EXPECT_EQ(ReadForm(upload.get()), Fields(L"a=1,2", {{L"a", {L"1", L"2"}}}));
}

}  // namespace upload_test
