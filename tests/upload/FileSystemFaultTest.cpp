// Temporary files written through the real file system, which gives out part
// way: the CTest entries run this program with a file-size limit (`ulimit -f`,
// SIGXFSZ ignored; QOR_FILE_SIZE_LIMIT says how many bytes) or with a small
// file system mounted for the temporary files (QOR_SMALL_FILE_SYSTEM, a Linux
// directory). Each test first checks that its bound is really in force.
#include "tests/upload/UploadTestSupport.h"

#include <stdlib.h>

#include <cstdlib>

namespace upload_test {
namespace {

std::string Part(const std::string& name, const std::string& data, const char* fileName = nullptr) {
    std::string part = "--xYz\r\nContent-Disposition: form-data; name=\"" + name + "\"";
    if (fileName) part += "; filename=\"" + std::string(fileName) + "\"";
    return part + "\r\n\r\n" + data + "\r\n";
}
const std::string kClosing = "--xYz--\r\n";
constexpr std::wstring_view kMultipart = L"multipart/form-data; boundary=xYz";

// Whether a new file of this many bytes can be written in the directory; the
// file is deleted again.
bool CanWrite(const std::wstring& directory, size_t bytes) {
    const std::wstring path = directory + L"\\probe.bin";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const std::string data(bytes, 'p');
    DWORD written = 0;
    const bool whole = WriteFile(file, data.data(), DWORD(bytes), &written, nullptr) && written == bytes;
    CloseHandle(file);
    DeleteFileW(path.c_str());
    return whole;
}

// TMP, for the process and its C runtime alike, while it lives.
class TmpAt {
public:
    explicit TmpAt(const std::wstring& directory) { _wputenv_s(L"TMP", directory.c_str()); }
    ~TmpAt() { _wputenv_s(L"TMP", TempDirectory().c_str()); }
};

class FileSystemFault : public UploadTest {
protected:
    // Posts a kept request, then a body whose second file has `size` bytes,
    // stored in `directory`; then a small request. A file that does not fit
    // fails the call with the file layer's description and leaves the kept
    // results, and nothing else, in the directory.
    void PostSecondFile(const std::wstring& directory, size_t size, LONG chunk, bool fits) {
        SCOPED_TRACE(testing::Message() << size << " bytes, chunk " << chunk);
        auto upload = NewUpload();
        ASSERT_EQ(Start(upload.get()), S_OK);
        {
            ComPtr<IQORUpload2> second;
            ASSERT_EQ(upload->QueryInterface(IID_IQORUpload2, second.put_void()), S_OK);
            ASSERT_EQ(second->put_ReadChunkBytes(chunk), S_OK);
        }
        host.SetReadShape(chunk ? ReadShape::Stream : ReadShape::ByteArray);
        ASSERT_EQ(Post(upload.get(), kMultipart, Part("t", "kept") + Part("k", "kept-file", "kept.txt") + kClosing), S_OK);
        const FormView formBefore = ReadForm(upload.get());
        const std::vector<FileView> filesBefore = ReadFiles(upload.get());
        ASSERT_EQ(filesBefore.size(), 1u);

        const std::string body = Part("t", "2") + Part("f", std::string(5000, 'x'), "one.txt") +
                                 Part("g", std::string(size, 'y'), "two.txt") + Part("u", "3") + kClosing;
        const HRESULT hr = Post(upload.get(), kMultipart, body);
        if (fits) {
            EXPECT_EQ(hr, S_OK);
            const std::vector<FileView> files = ReadFiles(upload.get());
            ASSERT_EQ(files.size(), 3u);
            EXPECT_EQ(FileBytes(files[2].tmpPath), std::string(size, 'y'));
        } else {
            EXPECT_EQ(hr, E_FAIL);
            EXPECT_EQ(TakeErrorInfo().description, L"File System: Unable to write file");
            EXPECT_EQ(ReadForm(upload.get()), formBefore);
            EXPECT_EQ(ReadFiles(upload.get()), filesBefore);
            EXPECT_EQ(FileBytes(filesBefore[0].tmpPath), "kept-file");
            EXPECT_EQ(FilesIn(directory), 1u) << "the failed call's files, the first one too, are deleted";
            EXPECT_EQ(host.LiveObjects(), 1);
        }
        // The next small request on the same object.
        ASSERT_EQ(Post(upload.get(), kMultipart, Part("t", "4") + Part("n", "new", "new.txt") + kClosing), S_OK);
        const std::vector<FileView> files = ReadFiles(upload.get());
        ASSERT_EQ(files.size(), fits ? 4u : 2u);
        EXPECT_EQ(FileBytes(files.back().tmpPath), "new");
        EXPECT_EQ(ReadForm(upload.get()).fields.at(0).second.back(), L"4");
        upload.reset();
        EXPECT_EQ(FilesIn(directory), 0u) << "a temporary file outlived its upload object";
    }
};

using FileSizeLimit = FileSystemFault;
using DiskFull = FileSystemFault;

TEST_F(FileSizeLimit, ASecondFileCrossingItFailsTheCallAndLeavesNothingBehind) {
    const char* setting = std::getenv("QOR_FILE_SIZE_LIMIT");
    ASSERT_TRUE(setting) << "run by the CTest entry, which sets the limit";
    const size_t limit = std::strtoul(setting, nullptr, 10);
    ASSERT_GT(limit, 8192u);
    ASSERT_TRUE(CanWrite(TempDirectory(), limit));
    ASSERT_FALSE(CanWrite(TempDirectory(), limit + 1)) << "the file-size limit is not in force";
    for (LONG chunk : {0, 1000}) {
        PostSecondFile(TempDirectory(), limit - 1, chunk, true);
        PostSecondFile(TempDirectory(), limit, chunk, true);
        PostSecondFile(TempDirectory(), limit + 1, chunk, false);
        PostSecondFile(TempDirectory(), 3 * limit + 100, chunk, false);
    }
}

TEST_F(DiskFull, ASecondFileFillingItFailsTheCallAndLeavesNothingBehind) {
    const char* mounted = std::getenv("QOR_SMALL_FILE_SYSTEM");
    ASSERT_TRUE(mounted) << "run by the CTest entry, which mounts the small file system";
    std::wstring directory = L"Z:";
    for (const char* c = mounted; *c; ++c) directory += *c == '/' ? L'\\' : wchar_t(*c);
    ASSERT_TRUE(CanWrite(directory, 64 * 1024));
    ASSERT_FALSE(CanWrite(directory, 4 * 1024 * 1024)) << "the file system is not small";
    const TmpAt tmp(directory);
    for (LONG chunk : {0, 1000}) {
        PostSecondFile(directory, 64 * 1024, chunk, true);
        PostSecondFile(directory, 4 * 1024 * 1024, chunk, false);
    }
}

}  // namespace
}  // namespace upload_test
