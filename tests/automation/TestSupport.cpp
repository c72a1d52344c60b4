#include "tests/automation/TestSupport.h"

#include "automation/Arguments.h"
#include "automation/DualDispatch.h"
#include "automation/VariantOps.h"
#include "uploadLib.h"
#include "tests/TargetSystem.h"
#include "tests/HiddenRegistryKey.h"

#include <cstdlib>
#include <memory>

namespace qor::test {
namespace {

bool unregisteredRun = false;

// Calls by name need the type library registered: the test program carries it
// as resource TYPELIB 1 and registers itself for the run.
class TypeLibraryEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        // A run that checks the unregistered case must not find a library
        // left behind by an interrupted run, nor the other architecture's
        // registration of it, which the platform would fall back to.
        UnRegisterTypeLib(LIBID_uploadLib, 2, 0, 0, kBuildSysKind);
        if (unregisteredRun) {
            LPOLESTR libid = nullptr;
            ASSERT_HRESULT_SUCCEEDED(StringFromCLSID(LIBID_uploadLib, &libid));
            otherPlatform_ = std::make_unique<HiddenRegistryKey>(
                std::wstring(L"TypeLib\\") + libid + L"\\2.0\\0\\" + kOtherPlatform, 0);
            CoTaskMemFree(libid);
            return;
        }
        wchar_t path[MAX_PATH];
        ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
        ComPtr<ITypeLib> library;
        ASSERT_HRESULT_SUCCEEDED(LoadTypeLibEx(path, REGKIND_REGISTER, library.put()));
    }
    void TearDown() override {
        ReleaseDispatchTypeInfo();
        if (!unregisteredRun) {
            EXPECT_HRESULT_SUCCEEDED(UnRegisterTypeLib(LIBID_uploadLib, 2, 0, 0, kBuildSysKind));
        }
        otherPlatform_.reset();
        CoUninitialize();
    }

private:
    std::unique_ptr<HiddenRegistryKey> otherPlatform_;
};

UniqueVariant Text8(const char* text) { return BstrVariant(ToAutomationString(text)); }

}  // namespace

bool TypeLibraryUnregistered() { return unregisteredRun; }

std::wstring Text(const VARIANT& v) {
    EXPECT_EQ(V_VT(&v), VT_BSTR);
    if (V_VT(&v) != VT_BSTR || !V_BSTR(&v)) return {};
    return std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v)));
}

ComPtr<CQORVariantCollection> MakeCollection(const std::vector<const char*>& values) {
    auto collection = CQORVariantCollection::Create();
    for (const char* value : values) collection->AppendValue(*Text8(value).get());
    return collection;
}

void FillForm(CQORFormDictionary& form, std::initializer_list<FieldSpec> fields, const char* formText) {
    form.ResetEntries();
    form.SetMissingKeyValue(*DispatchVariant(MakeCollection({}).get()).get());
    form.SetWholeFormText(ToAutomationString(formText));
    for (const FieldSpec& field : fields)
        form.AppendEntry(*Text8(field.name).get(), *DispatchVariant(MakeCollection(field.values).get()).get());
}

ComPtr<CQORFormDictionary> MakeForm(std::initializer_list<FieldSpec> fields, const char* formText) {
    auto form = CQORFormDictionary::Create();
    FillForm(*form.get(), fields, formText);
    return form;
}

ComPtr<CQORVariantDictionary> MakeFiles(std::initializer_list<FileSpec> files) {
    auto dictionary = CQORVariantDictionary::Create();
    for (const FileSpec& file : files) {
        auto info = CQORFileInfo::Create(ToAutomationString(file.userPath), ToAutomationString(file.tmpPath), file.size);
        dictionary->AppendEntry(*Text8(file.fieldName).get(), *DispatchVariant(info.get()).get());
    }
    return dictionary;
}

HRESULT RefProbe::QueryInterface(REFIID iid, void** out) {
    *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ? this : nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

HRESULT RefProbe::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) {
    if (id != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
    if (result) *result = I4(value).release();
    return S_OK;
}

UniqueVariant FailingRecordInfo::MakeRecord() {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_RECORD;
    V_RECORD(&v) = CoTaskMemAlloc(sizeof(LONG));
    V_RECORDINFO(&v) = this;
    AddRef();
    return UniqueVariant::Attach(v);
}

DispatchCall CallById(IDispatch* object, DISPID id, WORD flags, std::initializer_list<const VARIANT*> args) {
    DispatchCall call;
    std::vector<VARIANT> reversed;  // DISPPARAMS lists the arguments last to first
    for (auto it = args.end(); it != args.begin();) reversed.push_back(**--it);
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    EXCEPINFO exception{};
    UINT argError = 0;
    call.hr = object->Invoke(id, IID_NULL, 0, flags, &params, call.result.get(), &exception, &argError);
    call.exceptionCode = exception.scode;
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    return call;
}

DispatchCall CallByName(IDispatch* object, const wchar_t* name, WORD flags, std::initializer_list<const VARIANT*> args) {
    DISPID id = DISPID_UNKNOWN;
    auto* names = const_cast<LPOLESTR>(name);
    if (HRESULT hr = object->GetIDsOfNames(IID_NULL, &names, 1, 0, &id); FAILED(hr)) return DispatchCall{hr, {}, S_OK};
    return CallById(object, id, flags, args);
}

}  // namespace qor::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const char* unregistered = std::getenv("QOR_TEST_UNREGISTERED");
    qor::test::unregisteredRun = unregistered && *unregistered == '1';
    ::testing::AddGlobalTestEnvironment(new qor::test::TypeLibraryEnvironment);
    return RUN_ALL_TESTS();
}
