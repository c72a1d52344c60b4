// The built qorupload.dll through its exports, as the component runtime and
// regsvr32 use it: class object, unload rules, registration, version strings.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <memory>
#include <utility>
#include <vector>

#include "com/ComHolders.h"
#include "tests/HiddenRegistryKey.h"
#include "uploadLib.h"

using namespace qor;
using namespace qor::test;

namespace {

std::wstring dllPath;  // from the command line

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using PlainFn = HRESULT(STDAPICALLTYPE*)();

std::wstring Braced(const GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

class LoadedDll {
public:
    explicit LoadedDll(const std::wstring& path) : module_(LoadLibraryW(path.c_str())) {}
    ~LoadedDll() { if (module_) FreeLibrary(module_); }
    HMODULE get() const { return module_; }
    template <typename F>
    F Export(const char* name) const { return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_, name))); }

private:
    HMODULE module_;
};

class DllTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_NE(dll_.get(), nullptr);
        getClassObject_ = dll_.Export<GetClassObjectFn>("DllGetClassObject");
        canUnloadNow_ = dll_.Export<PlainFn>("DllCanUnloadNow");
        register_ = dll_.Export<PlainFn>("DllRegisterServer");
        unregister_ = dll_.Export<PlainFn>("DllUnregisterServer");
        ASSERT_TRUE(getClassObject_ && canUnloadNow_ && register_ && unregister_);
    }
    void TearDown() override { CoUninitialize(); }

    ComPtr<IClassFactory> ClassObject() {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(getClassObject_(CLSID_CQORUpload, IID_IClassFactory, factory.put_void()), S_OK);
        return factory;
    }

    LoadedDll dll_{dllPath};
    GetClassObjectFn getClassObject_ = nullptr;
    PlainFn canUnloadNow_ = nullptr, register_ = nullptr, unregister_ = nullptr;
};

// An outer object that aggregates the component and counts its own references.
class Outer : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown) {
            *out = this;
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(iid, out) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    LONG refs = 1;
    ComPtr<IUnknown> inner;
};

TEST_F(DllTest, HandsOutOneClassObjectForTheComponentOnly) {
    EXPECT_EQ(canUnloadNow_(), S_OK);  // nothing created yet
    ComPtr<IClassFactory> first = ClassObject(), second = ClassObject();
    EXPECT_EQ(first.get(), second.get());
    ComPtr<IUnknown> asUnknown;
    EXPECT_EQ(getClassObject_(CLSID_CQORUpload, IID_IUnknown, asUnknown.put_void()), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(first.get()), asUnknown.get());
    EXPECT_EQ(canUnloadNow_(), S_OK);  // the class object holds no lock

    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject_(IID_IQORUpload, IID_IClassFactory, &other), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(getClassObject_(CLSID_CQORUpload, IID_IClassFactory, nullptr), E_POINTER);
    void* wrong = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject_(CLSID_CQORUpload, IID_IDispatch, &wrong), E_NOINTERFACE);
    EXPECT_EQ(wrong, nullptr);
}

TEST_F(DllTest, CreatesPlainAndAggregatedObjects) {
    ComPtr<IClassFactory> factory = ClassObject();
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IQORUpload, nullptr), E_POINTER);

    ComPtr<IQORUpload> upload;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IQORUpload, upload.put_void()), S_OK);
    EXPECT_EQ(canUnloadNow_(), S_FALSE);
    upload.reset();
    EXPECT_EQ(canUnloadNow_(), S_OK);

    Outer outer;
    void* refused = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IQORUpload, &refused), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(canUnloadNow_(), S_OK);

    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, outer.inner.put_void()), S_OK);
    ComPtr<IQORUpload> viaOuter;
    ASSERT_EQ(outer.QueryInterface(IID_IQORUpload, viaOuter.put_void()), S_OK);
    // The aggregated interface answers for the outer object's identity.
    ComPtr<IUnknown> identity;
    ASSERT_EQ(viaOuter->QueryInterface(IID_IUnknown, identity.put_void()), S_OK);
    EXPECT_EQ(identity.get(), static_cast<IUnknown*>(&outer));
    identity.reset();
    viaOuter.reset();
    EXPECT_EQ(outer.refs, 1);
    outer.inner.reset();
    EXPECT_EQ(canUnloadNow_(), S_OK);
}

TEST_F(DllTest, LockServerAndLiveResultsKeepTheLibraryLoaded) {
    ComPtr<IClassFactory> factory = ClassObject();
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(canUnloadNow_(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(canUnloadNow_(), S_OK);

    ComPtr<IQORUpload> upload;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IQORUpload, upload.put_void()), S_OK);
    ComPtr<IQORVariantDictionary> form;
    ASSERT_EQ(upload->get_Form(form.put()), S_OK);
    upload.reset();
    EXPECT_EQ(canUnloadNow_(), S_FALSE);  // a script still holds Form
    form.reset();
    EXPECT_EQ(canUnloadNow_(), S_OK);
}

// HKEY_CLASSES_ROOT in one view: the test's own (0) or, with a WOW64 flag,
// the other architecture's.
class RegistryView {
public:
    static bool Exists(const std::wstring& path, REGSAM view = 0) {
        HKEY key;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }
    static std::wstring Value(const std::wstring& path, const wchar_t* name = nullptr, REGSAM view = 0) {
        wchar_t data[1024];
        DWORD bytes = sizeof(data);
        HKEY key;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
            return L"<missing>";
        LONG read = RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, data, &bytes);
        RegCloseKey(key);
        return read == ERROR_SUCCESS ? data : L"<missing>";
    }
    static void SetValue(const std::wstring& path, const wchar_t* name, const std::wstring& data, REGSAM view) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    static DWORD SubkeyCount(const std::wstring& path) {
        HKEY key;
        DWORD count = 0;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr);
        RegCloseKey(key);
        return count;
    }
};

// The other architecture's build, as it registers itself: its class in its
// own view, its platform's entry of the type library, and the keys both
// builds write alike. Each row is written, and later checked, as it stands.
struct OtherBuildEntry {
    REGSAM view;  // 0: a key both builds share
    std::wstring path;
    const wchar_t* name;
    std::wstring data;
};

constexpr REGSAM kOtherView = kOtherRegistryView;
const IID* const kInterfaces[] = {&IID_IQORUpload,        &IID_IQORVariantDictionary, &IID_IQORVariantCollection,
                                  &IID_IQORFileInfo,      &IID_IQORUpload2,           &IID_IQORFileInfo2,
                                  &IID_IQORFileInfo3,     &IID_IQORUpload3,           &IID_IQORUploadProgress,
                                  &IID_IQORProgressInfo};

// The module's classes with their names and ProgIDs (with version, without).
struct ModuleClass {
    const CLSID& clsid;
    const wchar_t* name;
    const wchar_t* progId;
    const wchar_t* versionIndependent;
};
const ModuleClass kClasses[] = {
    {CLSID_CQORUpload, L"Tandervale.QORUpload Class", L"Tandervale.QORUpload.2", L"Tandervale.QORUpload"},
    {CLSID_CQORUploadProgress, L"Tandervale.QORUploadProgress Class", L"Tandervale.QORUploadProgress.1",
     L"Tandervale.QORUploadProgress"},
};

std::vector<OtherBuildEntry> OtherBuild() {
    const std::wstring libid = Braced(LIBID_uploadLib);
    const std::wstring server = L"C:\\Program Files (other)\\QORUpload\\qorupload.dll";
    std::vector<OtherBuildEntry> rows = {
        {0, L"TypeLib\\" + libid + L"\\2.0", nullptr, L"QORUpload 2.0 Type Library"},
        {0, L"TypeLib\\" + libid + L"\\2.0\\0\\" + kOtherPlatform, nullptr, server},
        {0, L"AppID\\qorupload.DLL", L"AppID", L"{967F032F-6203-49E8-9847-6920FB65351E}"},
    };
    for (const ModuleClass& c : kClasses) {
        const std::wstring classKey = L"CLSID\\" + Braced(c.clsid), progId = c.progId, independent = c.versionIndependent;
        rows.insert(rows.end(), {
            {kOtherView, classKey, nullptr, c.name},
            {kOtherView, classKey, L"AppID", L"{967F032F-6203-49E8-9847-6920FB65351E}"},
            {kOtherView, classKey + L"\\InprocServer32", nullptr, server},
            {kOtherView, classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
            {kOtherView, classKey + L"\\ProgID", nullptr, progId},
            {kOtherView, classKey + L"\\VersionIndependentProgID", nullptr, independent},
            {kOtherView, classKey + L"\\TypeLib", nullptr, libid},
            {0, independent + L"\\CLSID", nullptr, Braced(c.clsid)},
            {0, independent + L"\\CurVer", nullptr, progId},
            {0, progId + L"\\CLSID", nullptr, Braced(c.clsid)},
        });
    }
    for (const IID* iid : kInterfaces)
        rows.push_back({kOtherView, L"Interface\\" + Braced(*iid) + L"\\TypeLib", nullptr, libid});
    return rows;
}

// The tests of registration start with the other build's registration out of
// the way (the prefix is shared with the other architecture's tests) and put
// it back afterwards.
class RegistrationTest : public DllTest {
protected:
    void SetUp() override {
        DllTest::SetUp();
        std::vector<std::pair<REGSAM, std::wstring>> keys = {
            {0, L"TypeLib\\" + Braced(LIBID_uploadLib)},
            {0, L"AppID\\{967F032F-6203-49E8-9847-6920FB65351E}"}, {0, L"AppID\\qorupload.DLL"}};
        for (const ModuleClass& c : kClasses)
            keys.insert(keys.end(), {{kOtherView, L"CLSID\\" + Braced(c.clsid)}, {0, c.progId}, {0, c.versionIndependent}});
        for (const IID* iid : kInterfaces) keys.push_back({kOtherView, L"Interface\\" + Braced(*iid)});
        for (const auto& [view, path] : keys) hidden_.push_back(std::make_unique<HiddenRegistryKey>(path, view));
    }
    void TearDown() override {
        while (!hidden_.empty()) hidden_.pop_back();
        DllTest::TearDown();
    }
    std::vector<std::unique_ptr<HiddenRegistryKey>> hidden_;
};

TEST_F(RegistrationTest, RegistersOnceAndUnregistersExactlyItsOwnEntries) {
    const std::wstring classKey = L"CLSID\\" + Braced(CLSID_CQORUpload);
    const std::wstring typeLibKey = L"TypeLib\\" + Braced(LIBID_uploadLib) + L"\\2.0";
    ASSERT_EQ(register_(), S_OK);
    HKEY stale;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (classKey + L"\\Stale").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &stale, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(stale);
    ASSERT_EQ(register_(), S_OK);

    EXPECT_FALSE(RegistryView::Exists(classKey + L"\\Stale"));
    EXPECT_EQ(RegistryView::Value(L"AppID\\qorupload.DLL", L"AppID"), RegistryView::Value(classKey, L"AppID"));
    EXPECT_TRUE(RegistryView::Exists(typeLibKey));
    // Registered, each class is found by both its ProgIDs, and served by this DLL.
    for (const ModuleClass& c : kClasses) {
        const std::wstring key = L"CLSID\\" + Braced(c.clsid);
        EXPECT_EQ(RegistryView::SubkeyCount(key), 5u);
        EXPECT_EQ(RegistryView::Value(key + L"\\InprocServer32"), dllPath);
        EXPECT_EQ(RegistryView::Value(key + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
        EXPECT_EQ(RegistryView::Value(std::wstring(c.versionIndependent) + L"\\CurVer"), c.progId);
        for (const wchar_t* progId : {c.progId, c.versionIndependent}) {
            CLSID clsid;
            ASSERT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
            EXPECT_EQ(clsid, c.clsid);
        }
    }
    ComPtr<ITypeLib> lib;
    EXPECT_EQ(LoadRegTypeLib(LIBID_uploadLib, 2, 0, 0, lib.put()), S_OK);
    lib.reset();

    ASSERT_EQ(unregister_(), S_OK);
    for (const ModuleClass& c : kClasses)
        for (const std::wstring& key : {L"CLSID\\" + Braced(c.clsid), std::wstring(c.progId), std::wstring(c.versionIndependent)})
            EXPECT_FALSE(RegistryView::Exists(key)) << std::string(key.begin(), key.end());
    EXPECT_FALSE(RegistryView::Exists(L"AppID\\qorupload.DLL"));
    EXPECT_FALSE(RegistryView::Exists(L"TypeLib\\" + Braced(LIBID_uploadLib)));
    for (const IID* iid : kInterfaces) EXPECT_FALSE(RegistryView::Exists(L"Interface\\" + Braced(*iid)));
    EXPECT_TRUE(RegistryView::Exists(L"CLSID"));
    EXPECT_TRUE(RegistryView::Exists(L"AppID"));

    // Nothing left to remove is no failure, so a second unregistration (or
    // one after another tool removed the type library) still succeeds.
    EXPECT_EQ(unregister_(), S_OK);
}

// Both architectures' builds registered side by side: registering or
// unregistering one leaves every entry of the other as it was, and the keys
// they share go with the last of them.
TEST_F(RegistrationTest, EachBuildLeavesTheOtherBuildsRegistrationWhole) {
    const std::vector<OtherBuildEntry> other = OtherBuild();
    for (const OtherBuildEntry& row : other) RegistryView::SetValue(row.path, row.name, row.data, row.view);
    auto expectOtherWhole = [&](const char* when) {
        for (const OtherBuildEntry& row : other)
            EXPECT_EQ(RegistryView::Value(row.path, row.name, row.view), row.data)
                << when << ": " << std::string(row.path.begin(), row.path.end());
    };

    ASSERT_EQ(register_(), S_OK);
    expectOtherWhole("registered");
    ASSERT_EQ(unregister_(), S_OK);
    expectOtherWhole("unregistered");
    EXPECT_FALSE(RegistryView::Exists(L"CLSID\\" + Braced(CLSID_CQORUpload)));
    EXPECT_FALSE(RegistryView::Exists(L"TypeLib\\" + Braced(LIBID_uploadLib) + L"\\2.0\\0\\" +
                                      (sizeof(void*) == 8 ? L"win64" : L"win32")))
        << "its own platform's entry goes";
    ASSERT_EQ(unregister_(), S_OK);
    ASSERT_EQ(register_(), S_OK);
    expectOtherWhole("registered again");
    ComPtr<ITypeLib> lib;
    EXPECT_EQ(LoadRegTypeLib(LIBID_uploadLib, 2, 0, 0, lib.put()), S_OK);
    lib.reset();

    // The other build unregistered first: this one is the last, and takes
    // the shared keys with it, in both views.
    for (const ModuleClass& c : kClasses) DeleteRegistryTree(L"CLSID\\" + Braced(c.clsid), kOtherView);
    DeleteRegistryTree(L"TypeLib\\" + Braced(LIBID_uploadLib) + L"\\2.0\\0\\" + kOtherPlatform, 0);
    ASSERT_EQ(unregister_(), S_OK);
    for (const OtherBuildEntry& row : other)
        EXPECT_EQ(RegistryView::Value(row.path, row.name, row.view), L"<missing>")
            << std::string(row.path.begin(), row.path.end());
    EXPECT_FALSE(RegistryView::Exists(L"TypeLib\\" + Braced(LIBID_uploadLib)));
    for (const IID* iid : kInterfaces) EXPECT_FALSE(RegistryView::Exists(L"Interface\\" + Braced(*iid)));
}

TEST_F(DllTest, ModulePathWithAQuoteIsRegisteredUnchanged) {
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring directory = std::wstring(temp) + L"qor it's here";
    const std::wstring copy = directory + L"\\qorupload.dll";
    CreateDirectoryW(directory.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(dllPath.c_str(), copy.c_str(), FALSE));
    {
        LoadedDll quoted(copy);
        ASSERT_NE(quoted.get(), nullptr);
        auto registerCopy = quoted.Export<PlainFn>("DllRegisterServer");
        auto unregisterCopy = quoted.Export<PlainFn>("DllUnregisterServer");
        ASSERT_EQ(registerCopy(), S_OK);
        EXPECT_EQ(RegistryView::Value(L"CLSID\\" + Braced(CLSID_CQORUpload) + L"\\InprocServer32"), copy);
        EXPECT_EQ(unregisterCopy(), S_OK);
    }
    DeleteFileW(copy.c_str());
    RemoveDirectoryW(directory.c_str());
}

TEST(DllVersion, CarriesTheProductStrings) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(dllPath.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::string data(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(dllPath.c_str(), 0, size, data.data()));
    auto text = [&](const wchar_t* name) {
        std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
        wchar_t* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) return std::wstring();
        return std::wstring(value);
    };
    EXPECT_EQ(text(L"CompanyName"), L"Tandervale");
    EXPECT_EQ(text(L"FileDescription"), L"QORUpload scripting component");
    EXPECT_EQ(text(L"FileVersion"), L"2.0.0.0");
    EXPECT_EQ(text(L"InternalName"), L"qorupload.dll");
    EXPECT_EQ(text(L"OriginalFilename"), L"qorupload.dll");
    EXPECT_EQ(text(L"ProductName"), L"QORUpload");
    EXPECT_EQ(text(L"ProductVersion"), L"2.0.0.0");
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: dll_tests PATH-TO-qorupload.dll\n");
        return 2;
    }
    // CTest passes the build tree's Linux path; Wine shows it under drive Z:.
    std::string path = argv[1];
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path) if (c == '/') c = '\\';
    wchar_t full[MAX_PATH];
    std::wstring wide(path.begin(), path.end());
    GetFullPathNameW(wide.c_str(), MAX_PATH, full, nullptr);
    dllPath = full;
    return RUN_ALL_TESTS();
}
