#include "tests/upload/UploadTestSupport.h"

#include "upload/UploadFactory.h"
#include "automation/DualDispatch.h"
#include "com/Module.h"
#include "tests/TargetSystem.h"
#include "hosts/HostFiles.h"
#include "tests/HiddenRegistryKey.h"

#include <stdlib.h>

#include <algorithm>
#include <memory>

#include <vector>

using namespace qor;

namespace upload_test {
namespace {

std::wstring tempDirectory;

std::wstring ClassKey() {
    LPOLESTR clsid = nullptr;
    StringFromCLSID(CLSID_CQORUpload, &clsid);
    std::wstring key = std::wstring(L"CLSID\\") + clsid;
    CoTaskMemFree(clsid);
    return key;
}

// The test program's environment:
// - calls by name need the type library registered: the program carries it
//   as resource TYPELIB 1 and registers itself for the run;
// - error information must show no source, so the class's ProgID is taken
//   out of the registry for the run (and put back if it was there);
// - temporary files go to a directory of the program's own, where they can
//   be counted.
class UploadEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        wchar_t path[MAX_PATH];
        ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
        ComPtr<ITypeLib> library;
        ASSERT_HRESULT_SUCCEEDED(LoadTypeLibEx(path, REGKIND_REGISTER, library.put()));

        progIdKey_ = ClassKey() + L"\\ProgID";
        wchar_t value[256] = {};
        DWORD bytes = sizeof value - sizeof(wchar_t);
        hadProgId_ = RegGetValueW(HKEY_CLASSES_ROOT, progIdKey_.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value,
                                  &bytes) == ERROR_SUCCESS;
        savedProgId_ = value;
        RegDeleteKeyW(HKEY_CLASSES_ROOT, progIdKey_.c_str());
        otherProgId_ = std::make_unique<qor::test::HiddenRegistryKey>(progIdKey_, qor::test::kOtherRegistryView);
        LPOLESTR progId = nullptr;
        ASSERT_FALSE(SUCCEEDED(ProgIDFromCLSID(CLSID_CQORUpload, &progId))) << "the class still has a ProgID";

        wchar_t base[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, base), 0u);
        tempDirectory = std::wstring(base) + L"qor-upload-tests-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(tempDirectory.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        ASSERT_EQ(_wputenv_s(L"TMP", tempDirectory.c_str()), 0);
        ASSERT_EQ(TempFileCount(), 0u);
    }

    void TearDown() override {
        qor::ReleaseDispatchTypeInfo();
        EXPECT_HRESULT_SUCCEEDED(UnRegisterTypeLib(LIBID_uploadLib, 2, 0, 0, kBuildSysKind));
        otherProgId_.reset();
        if (hadProgId_) {
            const auto bytes = static_cast<DWORD>((savedProgId_.size() + 1) * sizeof(wchar_t));
            RegSetKeyValueW(HKEY_CLASSES_ROOT, progIdKey_.c_str(), nullptr, REG_SZ, savedProgId_.c_str(), bytes);
        } else {
            RegDeleteKeyW(HKEY_CLASSES_ROOT, ClassKey().c_str());  // empty unless the class is registered
        }
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((tempDirectory + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    DeleteFileW((tempDirectory + L"\\" + found.cFileName).c_str());
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(tempDirectory.c_str());
        CoUninitialize();
    }

private:
    std::wstring progIdKey_, savedProgId_;
    bool hadProgId_ = false;
    // The other architecture's ProgID of the class, which Wine would fall back to.
    std::unique_ptr<qor::test::HiddenRegistryKey> otherProgId_;
};

UniqueVariant Make(VARTYPE type) {
    UniqueVariant v;
    V_VT(v.get()) = type;
    return v;
}

}  // namespace

ErrorInfo TakeErrorInfo() {
    ErrorInfo taken;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info) return taken;
    UniqueBstr description, source;
    info->GetDescription(description.put());
    info->GetSource(source.put());
    taken.present = true;
    taken.description.assign(description.get() ? description.get() : L"", description.length());
    taken.source.assign(source.get() ? source.get() : L"", source.length());
    return taken;
}

void InstallErrorInfo(const wchar_t* description) {
    ComPtr<ICreateErrorInfo> create;
    ASSERT_HRESULT_SUCCEEDED(CreateErrorInfo(create.put()));
    create->SetDescription(const_cast<LPOLESTR>(description));
    ComPtr<IErrorInfo> info;
    ASSERT_HRESULT_SUCCEEDED(create.query(info, IID_IErrorInfo));
    SetErrorInfo(0, info.get());
}

std::wstring TextOf(const VARIANT& v) {
    EXPECT_EQ(V_VT(&v), VT_BSTR);
    if (V_VT(&v) != VT_BSTR || !V_BSTR(&v)) return {};
    return std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v)));
}

UniqueVariant Text(std::wstring_view text) {
    UniqueVariant v = Make(VT_BSTR);
    V_BSTR(v.get()) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return v;
}

UniqueVariant Int(LONG value) {
    UniqueVariant v = Make(VT_I4);
    V_I4(v.get()) = value;
    return v;
}

UniqueVariant Unknown(IUnknown* object) {
    UniqueVariant v = Make(VT_UNKNOWN);
    V_UNKNOWN(v.get()) = object;
    if (object) object->AddRef();
    return v;
}

UniqueVariant Missing() {
    UniqueVariant v = Make(VT_ERROR);
    V_ERROR(v.get()) = DISP_E_PARAMNOTFOUND;
    return v;
}

FormView Fields(std::wstring text, std::vector<std::pair<std::wstring, std::vector<std::wstring>>> fields) {
    return FormView{std::move(text), std::move(fields)};
}

void PrintTo(const FormView& form, std::ostream* out) {
    *out << testing::PrintToString(form.text) << " with " << testing::PrintToString(form.fields);
}

void PrintTo(const FileView& file, std::ostream* out) {
    *out << "{" << testing::PrintToString(file.key) << ", " << testing::PrintToString(file.userPath) << ", "
         << testing::PrintToString(file.tmpPath) << ", " << file.size << "}";
}

std::vector<FileView> WithoutTmpPaths(std::vector<FileView> files) {
    for (FileView& file : files) file.tmpPath.clear();
    return files;
}

FormView ReadForm(IQORUpload* upload) {
    FormView view;
    ComPtr<IQORVariantDictionary> form;
    EXPECT_EQ(upload->get_Form(form.put()), S_OK);
    if (!form) return view;
    UniqueVariant text;
    EXPECT_EQ(form->get_Item(*Missing().get(), text.put()), S_OK);
    view.text = TextOf(*text.get());
    LONG count = -1;
    EXPECT_EQ(form->get_Count(&count), S_OK);
    for (LONG i = 1; i <= count; ++i) {
        UniqueVariant key, value;
        EXPECT_EQ(form->get_Key(*Int(i).get(), key.put()), S_OK);
        EXPECT_EQ(form->get_Item(*Int(i).get(), value.put()), S_OK);
        std::vector<std::wstring> values;
        ComPtr<IQORVariantCollection> collection;
        EXPECT_EQ(V_VT(value.get()), VT_DISPATCH);
        if (V_VT(value.get()) == VT_DISPATCH && V_DISPATCH(value.get()))
            V_DISPATCH(value.get())->QueryInterface(IID_IQORVariantCollection, collection.put_void());
        LONG valueCount = 0;
        if (collection) {
            EXPECT_EQ(collection->get_Count(&valueCount), S_OK);
        }
        for (LONG v = 1; v <= valueCount; ++v) {
            UniqueVariant item;
            EXPECT_EQ(collection->get_Item(*Int(v).get(), item.put()), S_OK);
            values.push_back(TextOf(*item.get()));
        }
        view.fields.emplace_back(TextOf(*key.get()), std::move(values));
    }
    return view;
}

std::vector<FileView> ReadFiles(IQORUpload* upload) {
    std::vector<FileView> view;
    ComPtr<IQORVariantDictionary> files;
    EXPECT_EQ(upload->get_Files(files.put()), S_OK);
    if (!files) return view;
    LONG count = -1;
    EXPECT_EQ(files->get_Count(&count), S_OK);
    for (LONG i = 1; i <= count; ++i) {
        UniqueVariant key, value;
        EXPECT_EQ(files->get_Key(*Int(i).get(), key.put()), S_OK);
        EXPECT_EQ(files->get_Item(*Int(i).get(), value.put()), S_OK);
        FileView file;
        file.key = TextOf(*key.get());
        ComPtr<IQORFileInfo> info;
        if (V_VT(value.get()) == VT_DISPATCH && V_DISPATCH(value.get()))
            V_DISPATCH(value.get())->QueryInterface(IID_IQORFileInfo, info.put_void());
        EXPECT_TRUE(info) << "entry " << i << " is no file info";
        if (info) {
            UniqueBstr userPath, tmpPath;
            EXPECT_EQ(info->get_UserPath(userPath.put()), S_OK);
            EXPECT_EQ(info->get_TmpPath(tmpPath.put()), S_OK);
            EXPECT_EQ(info->get_Size(&file.size), S_OK);
            file.userPath.assign(userPath.get() ? userPath.get() : L"", userPath.length());
            file.tmpPath.assign(tmpPath.get() ? tmpPath.get() : L"", tmpPath.length());
        }
        view.push_back(std::move(file));
    }
    return view;
}

NamedCall CallByName(IDispatch* object, const wchar_t* name, WORD flags, std::initializer_list<VARIANT> args) {
    NamedCall call;
    DISPID id = DISPID_UNKNOWN;
    auto* names = const_cast<LPOLESTR>(name);
    if (FAILED(call.hr = object->GetIDsOfNames(IID_NULL, &names, 1, 0, &id))) return call;
    std::vector<VARIANT> reversed(args.begin(), args.end());  // DISPPARAMS lists the last argument first
    std::reverse(reversed.begin(), reversed.end());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    // A property put passes its value as the named argument DISPID_PROPERTYPUT.
    DISPID putId = DISPID_PROPERTYPUT;
    if (flags & DISPATCH_PROPERTYPUT) {
        params.rgdispidNamedArgs = &putId;
        params.cNamedArgs = 1;
    }
    EXCEPINFO exception{};
    UINT argError = 0;
    call.hr = object->Invoke(id, IID_NULL, 0, flags, &params, call.result.get(), &exception, &argError);
    if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
    call.scode = exception.scode;
    if (exception.bstrDescription) call.description = exception.bstrDescription;
    if (exception.bstrSource) call.source = exception.bstrSource;
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    return call;
}

NamedCall GetItem(IDispatch* object, VARIANT arg) {
    NamedCall call;
    DISPPARAMS params{&arg, nullptr, 1, 0};
    call.hr = object->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &params, call.result.get(), nullptr,
                             nullptr);
    return call;
}

ComPtr<IUnknown> Identity(IUnknown* object) {
    ComPtr<IUnknown> identity;
    if (object) object->QueryInterface(IID_IUnknown, identity.put_void());
    return identity;
}

std::wstring TempDirectory() { return tempDirectory; }

size_t TempFileCount() {
    size_t count = 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((tempDirectory + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++count;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return count;
}

std::string FileBytes(const std::wstring& path) {
    std::string bytes;
    return SUCCEEDED(ReadWholeFile(path, bytes)) ? bytes : "<missing>";
}

size_t FilesIn(const std::wstring& directory) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    size_t count = 0;
    do count += !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    while (FindNextFileW(search, &found));
    FindClose(search);
    return count;
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void UploadTest::SetUp() {
    locksAtStart_ = qor::ModuleLockCount();
    SetErrorInfo(0, nullptr);
}

void UploadTest::TearDown() {
    EXPECT_EQ(qor::ModuleLockCount(), locksAtStart_) << "an object of the component outlived its test";
    EXPECT_EQ(host.LiveObjects(), 0) << "a host object is still referenced";
    SetErrorInfo(0, nullptr);
}

ComPtr<IQORUpload> UploadTest::NewUpload() {
    ComPtr<IQORUpload> upload;
    EXPECT_EQ(CreateUploadObject(nullptr, IID_IQORUpload, upload.put_void()), S_OK);
    return upload;
}

HRESULT UploadTest::Start(IQORUpload* upload) { return upload->OnStartPage(host.NewScriptingContext().get()); }

HRESULT UploadTest::Post(IQORUpload* upload, std::wstring_view contentType, std::string_view body) {
    host.SetContentType(contentType);
    host.SetBody(body);
    return upload->ProcessPostData();
}

}  // namespace upload_test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new upload_test::UploadEnvironment);
    return RUN_ALL_TESTS();
}
