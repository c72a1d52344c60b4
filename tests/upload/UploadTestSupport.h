#pragma once
// Fixture, host set-up and readers for the upload object tests: what a page
// host and a script see of the object, through its vtable and by name.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "com/ComHolders.h"
#include "hosts/testhost/TestHost.h"
#include "uploadLib.h"

using namespace qor;

namespace upload_test {

using testhost::HostStep;
using testhost::ReadShape;
using testhost::TestHost;

// The thread's error information, taken (and so cleared) as a host collects it.
struct ErrorInfo {
    bool present = false;
    std::wstring description, source;
};
ErrorInfo TakeErrorInfo();
// Installs error information with this description, as an earlier failure would.
void InstallErrorInfo(const wchar_t* description);

// Form as a script reads it: the whole-form text and each key with its values.
struct FormView {
    std::wstring text;
    std::vector<std::pair<std::wstring, std::vector<std::wstring>>> fields;
    bool operator==(const FormView&) const = default;
};
// One Files entry: key, UserPath, TmpPath, Size.
struct FileView {
    std::wstring key, userPath, tmpPath;
    LONG size = -1;
    bool operator==(const FileView&) const = default;
};
// Readable failure messages.
void PrintTo(const FormView& form, std::ostream* out);
void PrintTo(const FileView& file, std::ostream* out);
// Files without their temporary paths, which differ between upload objects.
std::vector<FileView> WithoutTmpPaths(std::vector<FileView> files);
FormView ReadForm(IQORUpload* upload);
std::vector<FileView> ReadFiles(IQORUpload* upload);
FormView Fields(std::wstring text, std::vector<std::pair<std::wstring, std::vector<std::wstring>>> fields);

// A call through IDispatch by name, with what the caller's EXCEPINFO received.
struct NamedCall {
    HRESULT hr = E_FAIL;
    UniqueVariant result;
    SCODE scode = S_OK;
    std::wstring description, source;
};
NamedCall CallByName(IDispatch* object, const wchar_t* name, WORD flags,
                     std::initializer_list<VARIANT> args = {});
// DISPATCH_PROPERTYGET of the default member (Item) with one argument.
NamedCall GetItem(IDispatch* object, VARIANT arg);

UniqueVariant Text(std::wstring_view text);
UniqueVariant Int(LONG value);
UniqueVariant Unknown(IUnknown* object);
// What the platform passes for an omitted optional argument.
UniqueVariant Missing();
std::wstring TextOf(const VARIANT& v);  // VT_BSTR only; fails the test otherwise

// The identity (IUnknown) of an object, for comparing objects.
ComPtr<IUnknown> Identity(IUnknown* object);

// Files in the temporary directory the test program made its own.
std::wstring TempDirectory();
size_t TempFileCount();
bool FileExists(const std::wstring& path);
// A file's bytes, or "<missing>" when it cannot be opened.
std::string FileBytes(const std::wstring& path);
// Files (not directories) directly in a directory.
size_t FilesIn(const std::wstring& directory);

// Every test: objects it made are gone at its end, the module lock count is
// back, and the host holds no live object.
class UploadTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A new upload object, as the class object makes one.
    static ComPtr<IQORUpload> NewUpload();
    // OnStartPage with a new scripting context of the host.
    HRESULT Start(IQORUpload* upload);
    // Serves this request and calls ProcessPostData.
    HRESULT Post(IQORUpload* upload, std::wstring_view contentType, std::string_view body);

    static constexpr std::wstring_view kUrlEncoded = L"application/x-www-form-urlencoded";

    TestHost host;

private:
    LONG locksAtStart_ = 0;
};

}  // namespace upload_test
