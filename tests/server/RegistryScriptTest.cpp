#include "server/RegistryScripts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "uploadLib.h"

using namespace qor;

namespace {

// Scripts run below a private key of the current user, never below the real
// HKEY_CLASSES_ROOT, so the tests leave the machine's registration alone.
class RegistryScriptTest : public testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kRoot, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(root_);
        RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
    }

    bool Exists(const std::wstring& path) {
        HKEY key;
        if (RegOpenKeyExW(root_, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }
    // The string value, or "<missing>".
    std::wstring Value(const std::wstring& path, const wchar_t* name = nullptr) {
        wchar_t data[1024];
        DWORD bytes = sizeof(data);
        if (RegGetValueW(root_, path.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &bytes) != ERROR_SUCCESS)
            return L"<missing>";
        return data;
    }
    std::set<std::wstring> Subkeys(const std::wstring& path) {
        std::set<std::wstring> names;
        HKEY key;
        if (RegOpenKeyExW(root_, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = 256;
            if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            names.insert(name);
        }
        RegCloseKey(key);
        return names;
    }
    DWORD ValueCount(const std::wstring& path) {
        HKEY key;
        DWORD count = 0;
        if (RegOpenKeyExW(root_, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                         nullptr);
        RegCloseKey(key);
        return count;
    }
    void SetValue(const std::wstring& path, const wchar_t* name) {
        ASSERT_EQ(RegSetKeyValueW(root_, path.c_str(), name, REG_SZ, L"x", 4), ERROR_SUCCESS);
    }
    void AddKey(const std::wstring& path) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExW(root_, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    static constexpr wchar_t kRoot[] = L"Software\\QORUploadRegistryTest";
    HKEY root_ = nullptr;
    const std::wstring clsidKey_ = L"CLSID\\" + GuidText(CLSID_CQORUpload);
    const std::wstring module_ = L"C:\\Program Files\\QOR\\qorupload.dll";
};

TEST_F(RegistryScriptTest, WritesEveryEntryOnceEvenWhenRegisteredTwice) {
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(RegisterScript(root_, SharedScript()), S_OK);
        ASSERT_EQ(RegisterScript(root_, ClassScript(module_)), S_OK);
    }
    EXPECT_EQ(Subkeys(L""), (std::set<std::wstring>{L"AppID", L"CLSID", L"Tandervale.QORUpload", L"Tandervale.QORUpload.2",
                                                    L"Tandervale.QORUploadProgress",
                                                    L"Tandervale.QORUploadProgress.1"}));
    EXPECT_EQ(Subkeys(L"CLSID"), (std::set<std::wstring>{GuidText(CLSID_CQORUpload), GuidText(CLSID_CQORUploadProgress)}));
    struct Class {
        const GUID& clsid;
        std::wstring name, progId, versionIndependent;
    } classes[] = {
        {CLSID_CQORUpload, L"Tandervale.QORUpload Class", L"Tandervale.QORUpload.2", L"Tandervale.QORUpload"},
        {CLSID_CQORUploadProgress, L"Tandervale.QORUploadProgress Class", L"Tandervale.QORUploadProgress.1",
         L"Tandervale.QORUploadProgress"},
    };
    for (const Class& c : classes) {
        SCOPED_TRACE(c.name);
        const std::wstring classKey = L"CLSID\\" + GuidText(c.clsid);
        EXPECT_EQ(Value(c.progId), c.name);
        EXPECT_EQ(Value(c.progId + L"\\CLSID"), GuidText(c.clsid));
        EXPECT_EQ(Value(c.versionIndependent), c.name);
        EXPECT_EQ(Value(c.versionIndependent + L"\\CLSID"), GuidText(c.clsid));
        EXPECT_EQ(Value(c.versionIndependent + L"\\CurVer"), c.progId);

        EXPECT_EQ(Value(classKey), c.name);
        EXPECT_EQ(Value(classKey, L"AppID"), kAppIdText);
        EXPECT_EQ(ValueCount(classKey), 2u);
        EXPECT_EQ(Subkeys(classKey), (std::set<std::wstring>{L"InprocServer32", L"ProgID", L"Programmable", L"TypeLib",
                                                             L"VersionIndependentProgID"}));
        EXPECT_EQ(Value(classKey + L"\\ProgID"), c.progId);
        EXPECT_EQ(Value(classKey + L"\\VersionIndependentProgID"), c.versionIndependent);
        EXPECT_EQ(ValueCount(classKey + L"\\Programmable"), 0u);
        EXPECT_EQ(Value(classKey + L"\\InprocServer32"), module_);
        EXPECT_EQ(Value(classKey + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
        EXPECT_EQ(Value(classKey + L"\\TypeLib"), GuidText(LIBID_uploadLib));
    }

    EXPECT_EQ(Subkeys(L"AppID"), (std::set<std::wstring>{kAppIdText, L"qorupload.DLL"}));
    EXPECT_EQ(Value(std::wstring(L"AppID\\") + kAppIdText), L"QORUpload");
    EXPECT_EQ(Value(L"AppID\\qorupload.DLL", L"AppID"), kAppIdText);
}

TEST_F(RegistryScriptTest, ReRegistrationDropsStaleSubkeysOfTheClassKeyOnly) {
    ASSERT_EQ(RegisterScript(root_, ClassScript(module_)), S_OK);
    AddKey(clsidKey_ + L"\\Stale");
    AddKey(clsidKey_ + L"\\Programmable\\Stale");
    AddKey(clsidKey_ + L"\\InprocServer32\\Stale");
    AddKey(L"CLSID\\{00000000-0000-0000-0000-000000000001}");
    for (const wchar_t* path : {L"", L"\\Programmable", L"\\InprocServer32"}) SetValue(clsidKey_ + path, L"Stale");
    SetValue(clsidKey_ + L"\\Programmable", nullptr);
    ASSERT_EQ(RegisterScript(root_, ClassScript(L"D:\\other.dll")), S_OK);
    EXPECT_FALSE(Exists(clsidKey_ + L"\\Stale"));
    EXPECT_FALSE(Exists(clsidKey_ + L"\\Programmable\\Stale"));
    EXPECT_FALSE(Exists(clsidKey_ + L"\\InprocServer32\\Stale"));
    EXPECT_EQ(ValueCount(clsidKey_), 2u);
    EXPECT_EQ(ValueCount(clsidKey_ + L"\\Programmable"), 0u);
    EXPECT_EQ(ValueCount(clsidKey_ + L"\\InprocServer32"), 2u);
    EXPECT_TRUE(Exists(clsidKey_ + L"\\Programmable"));
    EXPECT_TRUE(Exists(L"CLSID\\{00000000-0000-0000-0000-000000000001}"));  // not ours
    EXPECT_EQ(Value(clsidKey_ + L"\\InprocServer32"), L"D:\\other.dll");
}

// A process creating the object while the class is registered again must
// always find it: re-registration never takes the class or its server away.
TEST_F(RegistryScriptTest, ReRegistrationNeverHidesTheServerFromAnotherReader) {
    ASSERT_EQ(RegisterScript(root_, SharedScript()), S_OK);
    ASSERT_EQ(RegisterScript(root_, ClassScript(module_)), S_OK);
    std::atomic<bool> done{false};
    int reads = 0, misses = 0;
    std::thread reader([&] {
        while (!done) {
            ++reads;
            if (Value(clsidKey_ + L"\\InprocServer32") != module_ || !Exists(L"Tandervale.QORUpload\\CLSID")) ++misses;
        }
    });
    HRESULT failure = S_OK;
    for (int round = 0; round < 200 && SUCCEEDED(failure); ++round) {
        failure = RegisterScript(root_, SharedScript());
        if (SUCCEEDED(failure)) failure = RegisterScript(root_, ClassScript(module_));
    }
    done = true;
    reader.join();
    EXPECT_EQ(failure, S_OK);
    EXPECT_GT(reads, 0);
    EXPECT_EQ(misses, 0);
}

TEST_F(RegistryScriptTest, UnregistrationRemovesScriptedKeysAndKeepsTheRoots) {
    AddKey(L"CLSID\\{00000000-0000-0000-0000-000000000001}");
    ASSERT_EQ(RegisterScript(root_, SharedScript()), S_OK);
    ASSERT_EQ(RegisterScript(root_, ClassScript(module_)), S_OK);
    ASSERT_EQ(UnregisterScript(root_, ClassScript(module_)), S_OK);
    ASSERT_EQ(UnregisterScript(root_, SharedScript()), S_OK);
    EXPECT_EQ(Subkeys(L""), (std::set<std::wstring>{L"AppID", L"CLSID"}));
    EXPECT_TRUE(Subkeys(L"AppID").empty());
    EXPECT_EQ(Subkeys(L"CLSID"), (std::set<std::wstring>{L"{00000000-0000-0000-0000-000000000001}"}));

    // Nothing left to remove is no failure.
    EXPECT_EQ(UnregisterScript(root_, ClassScript(module_)), S_OK);
    EXPECT_EQ(UnregisterScript(root_, SharedScript()), S_OK);
}

TEST_F(RegistryScriptTest, UnregistrationStopsAtAKeyHoldingAnUnscriptedSubkey) {
    ASSERT_EQ(RegisterScript(root_, SharedScript()), S_OK);
    AddKey(L"Tandervale.QORUpload\\Foreign");
    EXPECT_TRUE(FAILED(UnregisterScript(root_, SharedScript())));
    // Keys walked before the blocked one are gone; the blocked key and
    // everything after it stay.
    EXPECT_FALSE(Exists(L"AppID\\qorupload.DLL"));
    EXPECT_FALSE(Exists(L"Tandervale.QORUpload.2"));
    EXPECT_TRUE(Exists(L"Tandervale.QORUpload\\Foreign"));
    EXPECT_FALSE(Exists(L"Tandervale.QORUpload\\CurVer"));
}

TEST_F(RegistryScriptTest, ModulePathWithQuotesIsWrittenUnchanged) {
    const std::wstring path = L"C:\\Users\\O'Brien\\it''s\\qorupload.dll";
    ASSERT_EQ(RegisterScript(root_, ClassScript(path)), S_OK);
    EXPECT_EQ(Value(clsidKey_ + L"\\InprocServer32"), path);
}

TEST_F(RegistryScriptTest, AScriptThatFailsPartWayIsRolledBack) {
    std::vector<RegistryKey> script = SharedScript();
    for (RegistryKey& key : ClassScript(module_)) script.push_back(std::move(key));
    script.push_back({L"bad\\name", RegistryKey::Lifetime::Normal, {}, {}});
    EXPECT_EQ(RegisterScript(root_, script), DISP_E_EXCEPTION);
    EXPECT_FALSE(Exists(L"Tandervale.QORUpload.2"));
    EXPECT_FALSE(Exists(L"Tandervale.QORUpload"));
    EXPECT_FALSE(Exists(clsidKey_));
    EXPECT_TRUE(Exists(L"CLSID"));
}

}  // namespace
