#include "automation/ReportError.h"

#include "tests/upload/CodePageSamples.h"
#include "com/ComHolders.h"
#include "uploadLib.h"

#include <gtest/gtest.h>

#include "tests/HiddenRegistryKey.h"

#include <string>

using namespace qor;

namespace {

// The thread's error information, taken (and so cleared) as a host collects it.
struct Collected {
    bool present = false;
    std::wstring description, source;
    GUID guid = GUID_NULL;
};

Collected CollectErrorInfo() {
    Collected c;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info) return c;
    UniqueBstr description, source;
    info->GetDescription(description.put());
    info->GetSource(source.put());
    info->GetGUID(&c.guid);
    c.present = true;
    c.description.assign(description.get() ? description.get() : L"", description.length());
    c.source.assign(source.get() ? source.get() : L"", source.length());
    return c;
}

// Writes HKCR\CLSID\{class}\ProgID for one test and puts back what was there
// (the component may be registered in this prefix).
class ScopedProgId {
public:
    ScopedProgId() {
        LPOLESTR clsid = nullptr;
        StringFromCLSID(CLSID_CQORUpload, &clsid);
        classKey_ = std::wstring(L"CLSID\\") + clsid;
        key_ = classKey_ + L"\\ProgID";
        CoTaskMemFree(clsid);
        HKEY existing = nullptr;
        hadClass_ = RegOpenKeyExW(HKEY_CLASSES_ROOT, classKey_.c_str(), 0, KEY_READ, &existing) == ERROR_SUCCESS;
        if (existing) RegCloseKey(existing);
        wchar_t buffer[256] = {};
        DWORD bytes = sizeof buffer - sizeof(wchar_t);
        hadValue_ = RegGetValueW(HKEY_CLASSES_ROOT, key_.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, buffer, &bytes) == ERROR_SUCCESS;
        saved_ = buffer;
    }
    ~ScopedProgId() {
        if (hadValue_) {
            Set(saved_);
            return;
        }
        Remove();
        if (!hadClass_) RegDeleteKeyW(HKEY_CLASSES_ROOT, classKey_.c_str());
    }

    bool Set(const std::wstring& progId) {
        const auto bytes = static_cast<DWORD>((progId.size() + 1) * sizeof(wchar_t));
        return RegSetKeyValueW(HKEY_CLASSES_ROOT, key_.c_str(), nullptr, REG_SZ, progId.c_str(), bytes) == ERROR_SUCCESS;
    }
    // Leaves the class key itself: removing it is unregistration's business.
    void Remove() { RegDeleteKeyW(HKEY_CLASSES_ROOT, key_.c_str()); }

private:
    std::wstring classKey_, key_, saved_;
    bool hadClass_ = false, hadValue_ = false;
};

class ReportErrorTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override {
        SetErrorInfo(0, nullptr);
        CoUninitialize();
    }

    // The other architecture's ProgID of the class, which Wine falls back to
    // where this view has none, is out of the way for each test.
    std::wstring ProgIdKey() {
        LPOLESTR clsid = nullptr;
        StringFromCLSID(CLSID_CQORUpload, &clsid);
        std::wstring key = std::wstring(L"CLSID\\") + clsid + L"\\ProgID";
        CoTaskMemFree(clsid);
        return key;
    }
    qor::test::HiddenRegistryKey otherProgId_{ProgIdKey(), qor::test::kOtherRegistryView};
};

}  // namespace

TEST_F(ReportErrorTest, ResultCodesAndTheInformationInstalled) {
    EXPECT_EQ(ReportError("Function OnStartPage call missed", 0, GUID_NULL), DISP_E_EXCEPTION);
    Collected c = CollectErrorInfo();
    ASSERT_TRUE(c.present);
    EXPECT_EQ(c.description, L"Function OnStartPage call missed");
    EXPECT_TRUE(IsEqualGUID(c.guid, GUID_NULL));

    // A failing code comes back unchanged; the latest report replaces the last.
    const HRESULT hostFailure = static_cast<HRESULT>(0x80070005);
    EXPECT_EQ(ReportError("Can't obtain Request object", E_FAIL, IID_IQORUpload), E_FAIL);
    EXPECT_EQ(ReportError("Can't call BinaryRead", hostFailure, IID_IQORUpload), hostFailure);
    c = CollectErrorInfo();
    EXPECT_EQ(c.description, L"Can't call BinaryRead");
    EXPECT_TRUE(IsEqualGUID(c.guid, IID_IQORUpload));
    EXPECT_FALSE(CollectErrorInfo().present);

    // A report never lets the method return success.
    EXPECT_EQ(ReportError("Can't obtain total bytes", S_FALSE, GUID_NULL), DISP_E_EXCEPTION);
    EXPECT_EQ(CollectErrorInfo().description, L"Can't obtain total bytes");

    // A null description changes nothing on the thread.
    ReportError("earlier", E_FAIL, GUID_NULL);
    EXPECT_EQ(ReportError(nullptr, 0, GUID_NULL), E_POINTER);
    EXPECT_EQ(CollectErrorInfo().description, L"earlier");
}

TEST_F(ReportErrorTest, SourceIsTheProgIdRegisteredForTheClass) {
    ScopedProgId progId;
    progId.Remove();
    EXPECT_EQ(ReportError("Can't obtain server variables", E_FAIL, GUID_NULL), E_FAIL);
    Collected c = CollectErrorInfo();
    EXPECT_EQ(c.description, L"Can't obtain server variables");
    EXPECT_EQ(c.source, L"");

    ASSERT_TRUE(progId.Set(L"Tandervale.QORUpload.2"));
    ReportError("Can't obtain content-type", E_FAIL, GUID_NULL);
    EXPECT_EQ(CollectErrorInfo().source, L"Tandervale.QORUpload.2");
    // Looked up on every report, not remembered.
    ASSERT_TRUE(progId.Set(L"Tandervale.QORUpload.3"));
    ReportError("again", 0, GUID_NULL);
    EXPECT_EQ(CollectErrorInfo().source, L"Tandervale.QORUpload.3");
}

TEST_F(ReportErrorTest, DescriptionsArriveWholeInTheThreadCodePage) {
    for (size_t length : {size_t{0}, size_t{1}, size_t{4096}, size_t{1} << 20}) {
        std::string description(length, 'a');
        for (size_t i = 0; i < length; ++i) description[i] = static_cast<char>('a' + i % 26);
        ASSERT_EQ(ReportError(description.c_str(), E_FAIL, GUID_NULL), E_FAIL);
        const Collected c = CollectErrorInfo();
        ASSERT_TRUE(c.present) << length;
        EXPECT_TRUE(c.description == std::wstring(description.begin(), description.end())) << length;
    }

    ASSERT_EQ(GetACP(), ExpectedAnsiCodePage()) << "the run's locale did not reach the process";
    const CodePageSample* sample = SampleFor(GetACP());
    ASSERT_NE(sample, nullptr);
    ReportError(std::string(sample->ansi).c_str(), 0, GUID_NULL);
    EXPECT_EQ(CollectErrorInfo().description, sample->wide);

    // The thread's locale decides, whatever the process's is.
    const LCID saved = GetThreadLocale();
    SetThreadLocale(kRussian);
    ReportError("\xCE\xF8\xE8\xE1\xEA\xE0", 0, GUID_NULL);
    SetThreadLocale(saved);
    EXPECT_EQ(CollectErrorInfo().description, L"\u041E\u0448\u0438\u0431\u043A\u0430");
}
