#pragma once
// Shared fixtures, value makers and probes of the automation tests.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "automation/CQORFileInfo.h"
#include "automation/CQORVariantCollection.h"
#include "automation/CQORVariantDictionary.h"
#include "com/ComHolders.h"
#include "com/Module.h"

namespace qor::test {

// Every test: all objects it created are gone at its end, and the module lock
// count is back where it started.
class LockAccountedTest : public ::testing::Test {
protected:
    void SetUp() override { locksAtStart_ = ModuleLockCount(); }
    void TearDown() override { EXPECT_EQ(ModuleLockCount(), locksAtStart_) << "an object outlived its test"; }

private:
    LONG locksAtStart_ = 0;
};

// True when this run left the type library unregistered on purpose.
bool TypeLibraryUnregistered();

template <VARTYPE type, typename T>
UniqueVariant Make(T value) {
    static_assert(sizeof(T) <= sizeof(LONGLONG));
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = type;
    std::memcpy(&V_I8(&v), &value, sizeof(T));  // every value member starts here
    return UniqueVariant::Attach(v);
}
inline UniqueVariant I4(LONG value) { return Make<VT_I4>(value); }
inline UniqueVariant UI4(ULONG value) { return Make<VT_UI4>(value); }
inline UniqueVariant R8(double value) { return Make<VT_R8>(value); }
inline UniqueVariant Null() { return Make<VT_NULL>(0); }
// What the platform passes for an omitted optional argument.
inline UniqueVariant Missing() { return Make<VT_ERROR>(DISP_E_PARAMNOTFOUND); }
inline UniqueVariant Bstr(const std::wstring& text) {
    return Make<VT_BSTR>(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}
inline UniqueVariant Object(IDispatch* object) { object->AddRef(); return Make<VT_DISPATCH>(object); }
inline UniqueVariant Object(IUnknown* object) { object->AddRef(); return Make<VT_UNKNOWN>(object); }
// A reference to another VARIANT, as script engines pass variables.
inline VARIANT ByRef(VARIANT* target) { return Make<VT_BYREF | VT_VARIANT>(target).release(); }

// The text of a VT_BSTR (null reads as empty); fails the test for another type.
std::wstring Text(const VARIANT& v);
// The IDispatch held by a VT_DISPATCH (null for anything else).
inline IDispatch* DispatchOf(const VARIANT& v) { return V_VT(&v) == VT_DISPATCH ? V_DISPATCH(&v) : nullptr; }

// The dictionaries as the upload object fills them after a parse, from 8-bit
// names and values: Form gets a new empty collection as its missing-key value.
struct FieldSpec { const char* name; std::vector<const char*> values; };
struct FileSpec { const char* fieldName; const char* userPath; const char* tmpPath; LONG size; };
ComPtr<CQORVariantCollection> MakeCollection(const std::vector<const char*>& values);
void FillForm(CQORFormDictionary& form, std::initializer_list<FieldSpec> fields, const char* formText);
ComPtr<CQORFormDictionary> MakeForm(std::initializer_list<FieldSpec> fields, const char* formText);
ComPtr<CQORVariantDictionary> MakeFiles(std::initializer_list<FileSpec> files);

// An object on the test's stack whose references can be counted; its default
// value is `value`.
class RefProbe : public IDispatch {
public:
    LONG refs() const { return refs_; }
    LONG value = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                     UINT*) override;

private:
    LONG refs_ = 1;  // the test's own
};

// A record type whose copies fail once a budget is spent: VT_RECORD VARIANTs
// of this type let a test make any VariantCopy fail.
class FailingRecordInfo : public IRecordInfo {
public:
    LONG refs() const { return refs_; }
    int copiesLeft = 1 << 30;  // copies that succeed before they fail with E_OUTOFMEMORY
    UniqueVariant MakeRecord();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { *out = nullptr; return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
    HRESULT STDMETHODCALLTYPE RecordInit(PVOID) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RecordClear(PVOID) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RecordCopy(PVOID, PVOID) override { return copiesLeft-- > 0 ? S_OK : E_OUTOFMEMORY; }
    HRESULT STDMETHODCALLTYPE GetGuid(GUID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetName(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSize(ULONG* size) override { *size = sizeof(LONG); return S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetField(PVOID, LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFieldNoCopy(PVOID, LPCOLESTR, VARIANT*, PVOID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PutField(ULONG, PVOID, LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PutFieldNoCopy(ULONG, PVOID, LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFieldNames(ULONG*, BSTR*) override { return E_NOTIMPL; }
    BOOL STDMETHODCALLTYPE IsMatchingType(IRecordInfo* other) override { return other == this; }
    PVOID STDMETHODCALLTYPE RecordCreate() override { return CoTaskMemAlloc(sizeof(LONG)); }
    HRESULT STDMETHODCALLTYPE RecordCreateCopy(PVOID, PVOID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RecordDestroy(PVOID record) override { CoTaskMemFree(record); return S_OK; }

private:
    LONG refs_ = 1;
};

// A call through IDispatch, arguments in natural order.
struct DispatchCall {
    HRESULT hr = E_FAIL;
    UniqueVariant result;
    SCODE exceptionCode = S_OK;
};
DispatchCall CallById(IDispatch* object, DISPID id, WORD flags, std::initializer_list<const VARIANT*> args = {});
DispatchCall CallByName(IDispatch* object, const wchar_t* name, WORD flags,
                        std::initializer_list<const VARIANT*> args = {});

}  // namespace qor::test
