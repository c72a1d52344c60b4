#include "tests/automation/TestSupport.h"

#include "uploadLib.h"
#include "tests/TargetSystem.h"

#include <algorithm>
#include <vector>

namespace qor::test {
namespace {

class DispatchTest : public LockAccountedTest {
protected:
    void SetUp() override {
        LockAccountedTest::SetUp();
        if (TypeLibraryUnregistered()) GTEST_SKIP() << "needs the registered type library";
    }
};

std::wstring TypeName(ITypeInfo* info) {
    UniqueBstr name;
    EXPECT_HRESULT_SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr));
    return name.get() ? name.get() : L"";
}

struct MemberSpec {
    const wchar_t* name;
    MEMBERID id;
    INVOKEKIND kind;
    std::vector<USHORT> paramFlags;
    std::vector<VARTYPE> paramTypes;  // the pointee's type for pointers, after VT_PTR
    const wchar_t* help;
};

constexpr USHORT In = PARAMFLAG_FIN;
constexpr USHORT InOptional = PARAMFLAG_FIN | PARAMFLAG_FOPT;
constexpr USHORT OutRetval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;

VARTYPE DescribedType(const TYPEDESC& type) {
    return type.vt == VT_PTR ? static_cast<VARTYPE>(VT_BYREF | type.lptdesc->vt) : type.vt;
}

// The vtable view of a dual interface lists its own members in slot order,
// after IUnknown, IDispatch and the `inherited` members of its base.
void ExpectMembers(ITypeLib* library, REFIID iid, const std::vector<MemberSpec>& members, size_t inherited = 0) {
    ComPtr<ITypeInfo> dispatchView, vtableView;
    ASSERT_EQ(library->GetTypeInfoOfGuid(iid, dispatchView.put()), S_OK);
    HREFTYPE vtableRef = 0;
    ASSERT_EQ(dispatchView->GetRefTypeOfImplType(-1, &vtableRef), S_OK);
    ASSERT_EQ(dispatchView->GetRefTypeInfo(vtableRef, vtableView.put()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(vtableView->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_EQ(attr->wTypeFlags,
              TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
    EXPECT_EQ(attr->cFuncs, members.size());
    EXPECT_EQ(attr->cbSizeVft, (7 + inherited + members.size()) * sizeof(void*))
        << "IUnknown, IDispatch, the base's members, then its own";
    vtableView->ReleaseTypeAttr(attr);
    for (size_t i = 0; i < members.size(); ++i) {
        const MemberSpec& spec = members[i];
        FUNCDESC* func = nullptr;
        ASSERT_EQ(vtableView->GetFuncDesc(static_cast<UINT>(i), &func), S_OK);
        UniqueBstr name, help;
        vtableView->GetDocumentation(func->memid, name.put(), help.put(), nullptr, nullptr);
        SCOPED_TRACE(spec.name);
        EXPECT_STREQ(name.get(), spec.name);
        EXPECT_EQ(func->memid, spec.id);
        EXPECT_EQ(func->invkind, spec.kind);
        EXPECT_EQ(func->oVft, static_cast<SHORT>((7 + inherited + i) * sizeof(void*)));
        EXPECT_EQ(func->elemdescFunc.tdesc.vt, VT_HRESULT);
        // Optional VARIANTs count in cParamsOpt; a parameter with a default
        // value is optional too, without counting.
        short optionalVariants = 0;
        for (size_t p = 0; p < spec.paramFlags.size(); ++p)
            optionalVariants += spec.paramFlags[p] == InOptional && spec.paramTypes[p] == VT_VARIANT;
        EXPECT_EQ(func->cParamsOpt, optionalVariants);
        ASSERT_EQ(static_cast<size_t>(func->cParams), spec.paramFlags.size());
        for (size_t p = 0; p < spec.paramFlags.size(); ++p) {
            EXPECT_EQ(func->lprgelemdescParam[p].paramdesc.wParamFlags & ~PARAMFLAG_FHASDEFAULT,
                      spec.paramFlags[p]) << "parameter " << p;
            EXPECT_EQ(DescribedType(func->lprgelemdescParam[p].tdesc), spec.paramTypes[p]) << "parameter " << p;
        }
        if (spec.help) {
            EXPECT_STREQ(help.get(), spec.help);
        } else {
            EXPECT_EQ(help.get(), nullptr);
        }
        vtableView->ReleaseFuncDesc(func);
    }
}

TEST_F(DispatchTest, TypeLibraryHoldsTheClassAndItsInterfacesInOrder) {
    ComPtr<ITypeLib> library;
    ASSERT_EQ(LoadRegTypeLib(LIBID_uploadLib, 2, 0, 0, library.put()), S_OK);
    TLIBATTR* libAttr = nullptr;
    ASSERT_EQ(library->GetLibAttr(&libAttr), S_OK);
    EXPECT_EQ(libAttr->wMajorVerNum, 2);
    EXPECT_EQ(libAttr->wMinorVerNum, 0);
    EXPECT_EQ(libAttr->lcid, 0u);
    EXPECT_EQ(libAttr->syskind, kBuildSysKind) << "each build carries its own target system";
    library->ReleaseTLibAttr(libAttr);
    UniqueBstr libName, libHelp, helpFile;
    ASSERT_EQ(library->GetDocumentation(-1, libName.put(), libHelp.put(), nullptr, helpFile.put()), S_OK);
    EXPECT_STREQ(libName.get(), L"uploadLib");
    EXPECT_STREQ(libHelp.get(), L"QORUpload 2.0 Type Library");
    EXPECT_EQ(helpFile.get(), nullptr);

    struct TypeSpec { const wchar_t* name; TYPEKIND kind; const GUID* guid; WORD flags; const wchar_t* help; };
    // The dispatch view of a dual interface; its vtable view adds FOLEAUTOMATION.
    const WORD interfaceFlags = TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
    const TypeSpec types[] = {
        {L"CQORUpload", TKIND_COCLASS, &CLSID_CQORUpload, TYPEFLAG_FCANCREATE, L"Tandervale.QORUpload Class"},
        {L"IQORUpload", TKIND_DISPATCH, &IID_IQORUpload, interfaceFlags, L"IQORUpload Interface"},
        {L"IQORVariantDictionary", TKIND_DISPATCH, &IID_IQORVariantDictionary, interfaceFlags,
         L"IQORVariantDictionary Interface"},
        {L"IQORVariantCollection", TKIND_DISPATCH, &IID_IQORVariantCollection, interfaceFlags,
         L"IQORVariantCollection Interface"},
        {L"IQORFileInfo", TKIND_DISPATCH, &IID_IQORFileInfo, interfaceFlags, L"IQORFileInfo Interface"},
        {L"IQORUpload2", TKIND_DISPATCH, &IID_IQORUpload2, interfaceFlags, L"IQORUpload2 Interface"},
        {L"IQORFileInfo2", TKIND_DISPATCH, &IID_IQORFileInfo2, interfaceFlags, L"IQORFileInfo2 Interface"},
        {L"IQORFileInfo3", TKIND_DISPATCH, &IID_IQORFileInfo3, interfaceFlags, L"IQORFileInfo3 Interface"},
        {L"IQORUpload3", TKIND_DISPATCH, &IID_IQORUpload3, interfaceFlags, L"IQORUpload3 Interface"},
        {L"CQORUploadProgress", TKIND_COCLASS, &CLSID_CQORUploadProgress, TYPEFLAG_FCANCREATE,
         L"Tandervale.QORUploadProgress Class"},
        {L"IQORUploadProgress", TKIND_DISPATCH, &IID_IQORUploadProgress, interfaceFlags, L"IQORUploadProgress Interface"},
        {L"IQORProgressInfo", TKIND_DISPATCH, &IID_IQORProgressInfo, interfaceFlags, L"IQORProgressInfo Interface"},
    };
    ASSERT_EQ(library->GetTypeInfoCount(), std::size(types));
    for (UINT i = 0; i < std::size(types); ++i) {
        SCOPED_TRACE(types[i].name);
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(library->GetTypeInfo(i, info.put()), S_OK);
        UniqueBstr name, help;
        ASSERT_EQ(library->GetDocumentation(static_cast<INT>(i), name.put(), help.put(), nullptr, nullptr), S_OK);
        EXPECT_STREQ(name.get(), types[i].name);
        EXPECT_STREQ(help.get(), types[i].help);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
        EXPECT_EQ(attr->typekind, types[i].kind);
        EXPECT_TRUE(IsEqualGUID(attr->guid, *types[i].guid));
        EXPECT_EQ(attr->wTypeFlags, types[i].flags);
        EXPECT_EQ(attr->wMajorVerNum, 0);
        info->ReleaseTypeAttr(attr);
    }

    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(library->GetTypeInfoOfGuid(CLSID_CQORUpload, coclass.put()), S_OK);
    TYPEATTR* classAttr = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&classAttr), S_OK);
    EXPECT_EQ(classAttr->cImplTypes, 1);
    coclass->ReleaseTypeAttr(classAttr);
    INT implFlags = 0;
    EXPECT_EQ(coclass->GetImplTypeFlags(0, &implFlags), S_OK);
    EXPECT_EQ(implFlags, IMPLTYPEFLAG_FDEFAULT);
    HREFTYPE implRef = 0;
    ComPtr<ITypeInfo> implemented;
    ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &implRef), S_OK);
    ASSERT_EQ(coclass->GetRefTypeInfo(implRef, implemented.put()), S_OK);
    EXPECT_EQ(TypeName(implemented.get()), L"IQORUpload");
}

TEST_F(DispatchTest, MembersCarryTheirIdentifiersParametersAndHelpStrings) {
    ComPtr<ITypeLib> library;
    ASSERT_EQ(LoadRegTypeLib(LIBID_uploadLib, 2, 0, 0, library.put()), S_OK);
    const auto get = INVOKE_PROPERTYGET;
    const auto method = INVOKE_FUNC;
    const VARTYPE outVariant = VT_BYREF | VT_VARIANT, outLong = VT_BYREF | VT_I4, outBstr = VT_BYREF | VT_BSTR;
    const VARTYPE outUnknown = VT_BYREF | VT_UNKNOWN, outInterface = VT_BYREF | VT_PTR;
    ExpectMembers(library.get(), IID_IQORUpload, {
        {L"OnStartPage", 0x60020000, method, {In}, {VT_UNKNOWN}, nullptr},
        {L"OnEndPage", 0x60020001, method, {}, {}, nullptr},
        {L"ProcessPostData", 1, method, {}, {}, L"method ProcessPostData"},
        {L"Form", 2, get, {OutRetval}, {outInterface}, L"property Form"},
        {L"Files", 3, get, {OutRetval}, {outInterface}, L"property Files"},
    });
    ExpectMembers(library.get(), IID_IQORVariantDictionary, {
        {L"Item", DISPID_VALUE, get, {InOptional, OutRetval}, {VT_VARIANT, outVariant}, L"property Item"},
        {L"_NewEnum", DISPID_NEWENUM, get, {OutRetval}, {outUnknown}, L"property _NewEnum"},
        {L"Count", 3, get, {OutRetval}, {outLong}, L"property Count"},
        {L"Key", 4, get, {In, OutRetval}, {VT_VARIANT, outVariant}, L"property Key"},
    });
    ExpectMembers(library.get(), IID_IQORVariantCollection, {
        {L"Item", DISPID_VALUE, get, {InOptional, OutRetval}, {VT_VARIANT, outVariant}, L"property Item"},
        {L"_NewEnum", DISPID_NEWENUM, get, {OutRetval}, {outUnknown}, L"property _NewEnum"},
        {L"Count", 3, get, {OutRetval}, {outLong}, L"property Count"},
    });
    ExpectMembers(library.get(), IID_IQORFileInfo, {
        {L"UserPath", 1, get, {OutRetval}, {outBstr}, L"property UserPath"},
        {L"TmpPath", 2, get, {OutRetval}, {outBstr}, L"property TmpPath"},
        {L"Size", 3, get, {OutRetval}, {outLong}, L"property Size"},
    });
    const auto put = INVOKE_PROPERTYPUT;
    const wchar_t* const codePageHelp = L"property CodePage: code page of the text handed to scripts; 0 = as IQORUpload, 65001 = UTF-8";
    const wchar_t* const limitHelp[] = {
        L"property MaxTotalBytes: largest request body read, 0 = no limit; error 0x80040201",
        L"property MaxFileBytes: largest file stored, 0 = no limit; error 0x80040202",
        L"property MaxFiles: most files one call stores, 0 = no limit; error 0x80040203",
        L"property MaxParts: most values one call adds, 0 = no limit; error 0x80040204",
        L"property ReadChunkBytes: read the body in chunks of this size, 0 = at once; body ended early: error 0x80040205"};
    std::vector<MemberSpec> upload2 = {{L"CodePage", 4, get, {OutRetval}, {outLong}, codePageHelp},
                                       {L"CodePage", 4, put, {In}, {VT_I4}, codePageHelp}};
    const wchar_t* const limits[] = {L"MaxTotalBytes", L"MaxFileBytes", L"MaxFiles", L"MaxParts", L"ReadChunkBytes"};
    for (MEMBERID id = 5; id <= 9; ++id) {
        upload2.push_back({limits[id - 5], id, get, {OutRetval}, {outLong}, limitHelp[id - 5]});
        upload2.push_back({limits[id - 5], id, put, {In}, {VT_I4}, limitHelp[id - 5]});
    }
    ExpectMembers(library.get(), IID_IQORUpload2, upload2, 5);
    ExpectMembers(library.get(), IID_IQORFileInfo2, {
        {L"FileName", 4, get, {OutRetval}, {outBstr}, L"property FileName: the last segment of UserPath, no directory"},
        {L"ContentType", 5, get, {OutRetval}, {outBstr}, L"property ContentType: the part's Content-Type as sent, trimmed"},
        {L"SaveAs", 6, method, {In, InOptional}, {VT_BSTR, VT_BOOL},
         L"method SaveAs: copies the file to path, replacing a file there only with overwrite; upload object gone: error 0x80040206"},
    }, 3);
    ExpectMembers(library.get(), IID_IQORFileInfo3, {
        {L"MoveTo", 7, method, {In, InOptional}, {VT_BSTR, VT_BOOL},
         L"method MoveTo: moves the file to path, replacing a file there only with overwrite; TmpPath then answers path; moved already: error 0x80040207"},
    }, 6);
    const wchar_t* const progressIdHelp =
        L"property ProgressId: publishes this call's progress under the ID (16 to 64 of A-Z a-z 0-9 - _); empty = none";
    ExpectMembers(library.get(), IID_IQORUpload3, {
        {L"ProgressId", 10, get, {OutRetval}, {outBstr}, progressIdHelp},
        {L"ProgressId", 10, put, {In}, {VT_BSTR}, progressIdHelp},
    }, 5 + 12);
    ExpectMembers(library.get(), IID_IQORUploadProgress, {
        {L"NewId", 1, method, {OutRetval}, {outBstr}, L"method NewId: a new progress ID, 32 characters from 128 random bits"},
        {L"Query", 2, method, {In, OutRetval}, {VT_BSTR, outInterface},
         L"method Query: a snapshot of the progress published under id, State unknown when none is"},
    });
    struct Property { const wchar_t* name; VARTYPE type; const wchar_t* help; } info[] = {
        {L"State", outBstr, L"property State: unknown, receiving, done or failed"},
        {L"BytesReceived", outLong, L"property BytesReceived"},
        {L"TotalBytes", outLong, L"property TotalBytes"},
        {L"FilesStored", outLong, L"property FilesStored"},
        {L"PercentComplete", outLong, L"property PercentComplete: 0 to 100"},
        {L"ElapsedMilliseconds", outLong, L"property ElapsedMilliseconds"},
        {L"ErrorNumber", outLong, L"property ErrorNumber"},
        {L"FileName", outBstr, L"property FileName: of the file being stored, or the last one"},
        {L"ErrorDescription", outBstr, L"property ErrorDescription"},
        {L"Json", outBstr, L"property Json: all of the above as one JSON object"}};
    std::vector<MemberSpec> progressInfo;
    for (MEMBERID id = 1; id <= 10; ++id)
        progressInfo.push_back({info[id - 1].name, id, get, {OutRetval}, {info[id - 1].type}, info[id - 1].help});
    ExpectMembers(library.get(), IID_IQORProgressInfo, progressInfo);
}

TEST_F(DispatchTest, TypeInfoIsSharedAndIgnoresTheIndex) {
    auto form = CQORFormDictionary::Create();
    auto files = CQORVariantDictionary::Create();
    auto collection = CQORVariantCollection::Create();
    UINT count = 0;
    EXPECT_EQ(form->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(form->GetTypeInfoCount(nullptr), E_POINTER);
    ComPtr<ITypeInfo> first, second, other, ofCollection;
    ASSERT_EQ(form->GetTypeInfo(0, 0, first.put()), S_OK);
    ASSERT_EQ(form->GetTypeInfo(1, 0, second.put()), S_OK);
    ASSERT_EQ(files->GetTypeInfo(7, 0, other.put()), S_OK);
    EXPECT_EQ(first.get(), second.get());
    EXPECT_EQ(first.get(), other.get()) << "one cached description per interface";
    EXPECT_EQ(TypeName(first.get()), L"IQORVariantDictionary");
    ASSERT_EQ(collection->GetTypeInfo(0, 0, ofCollection.put()), S_OK);
    EXPECT_EQ(TypeName(ofCollection.get()), L"IQORVariantCollection");
    EXPECT_EQ(form->GetTypeInfo(0, 0, nullptr), E_POINTER);
}

TEST_F(DispatchTest, NamesResolveWhateverTheirCase) {
    auto form = MakeForm({{"a", {"1"}}}, "a=1");
    auto info = CQORFileInfo::Create(UniqueBstr(), UniqueBstr(), 0);
    auto id = [](IDispatch* object, const wchar_t* name, HRESULT expected = S_OK) {
        DISPID id = 12345;
        auto* text = const_cast<LPOLESTR>(name);
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, &text, 1, 0, &id), expected) << name;
        return id;
    };
    EXPECT_EQ(id(form.get(), L"Item"), DISPID_VALUE);
    EXPECT_EQ(id(form.get(), L"ITEM"), DISPID_VALUE);
    EXPECT_EQ(id(form.get(), L"_newenum"), DISPID_NEWENUM);
    EXPECT_EQ(id(form.get(), L"Count"), 3);
    EXPECT_EQ(id(form.get(), L"count"), 3);
    EXPECT_EQ(id(form.get(), L"kEY"), 4);
    EXPECT_EQ(id(info.get(), L"SIZE"), 3);
    id(form.get(), L"Counts", DISP_E_UNKNOWNNAME);
    DISPID ignored = 0;
    auto* count = const_cast<LPOLESTR>(L"Count");
    EXPECT_EQ(form->GetIDsOfNames(IID_IDispatch, &count, 1, 0, &ignored), DISP_E_UNKNOWNINTERFACE);
    LPOLESTR withParameter[] = {const_cast<LPOLESTR>(L"Key"), const_cast<LPOLESTR>(L"var")};
    DISPID ids[2] = {-99, -99};
    EXPECT_EQ(form->GetIDsOfNames(IID_NULL, withParameter, 2, 0, ids), S_OK);
    EXPECT_EQ(ids[0], 4);
    EXPECT_EQ(ids[1], 0) << "the first parameter";
}

TEST_F(DispatchTest, DefaultMemberWithoutArgumentReachesItemWithTheOmittedMarker) {
    auto form = MakeForm({{"a", {"1", "3"}}, {"b", {"2"}}}, "a=1,3;b=2");
    auto files = MakeFiles({{"f", "x.txt", "C:\\t\\1.tmp", 3}});
    auto collection = MakeCollection({"p", "", "q"});

    DispatchCall whole = CallById(form.get(), DISPID_VALUE, DISPATCH_PROPERTYGET);
    EXPECT_EQ(whole.hr, S_OK);
    EXPECT_EQ(Text(*whole.result.get()), L"a=1,3;b=2");
    DispatchCall none = CallById(files.get(), DISPID_VALUE, DISPATCH_PROPERTYGET);
    EXPECT_EQ(none.hr, S_OK);
    EXPECT_EQ(V_VT(none.result.get()), VT_EMPTY);
    DispatchCall joined = CallById(collection.get(), DISPID_VALUE, DISPATCH_PROPERTYGET | DISPATCH_METHOD);
    EXPECT_EQ(joined.hr, S_OK);
    EXPECT_EQ(Text(*joined.result.get()), L"p,,q");
}

TEST_F(DispatchTest, ByNameArgumentsAreCoercedAndValuesAreTypedObjects) {
    auto form = MakeForm({{"a", {"1", "3"}}, {"b", {"2"}}}, "a=1,3;b=2");
    UniqueVariant variable = Bstr(L"a");
    VARIANT reference = ByRef(variable.get());
    DispatchCall field = CallByName(form.get(), L"item", DISPATCH_PROPERTYGET | DISPATCH_METHOD, {&reference});
    ASSERT_EQ(field.hr, S_OK);
    IDispatch* values = DispatchOf(*field.result.get());
    ASSERT_NE(values, nullptr);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(values->GetTypeInfo(0, 0, info.put()), S_OK);
    EXPECT_EQ(TypeName(info.get()), L"IQORVariantCollection");
    DispatchCall second = CallById(values, DISPID_VALUE, DISPATCH_PROPERTYGET, {Bstr(L"2").get()});
    EXPECT_EQ(Text(*second.result.get()), L"3");
    DispatchCall key = CallByName(form.get(), L"Key", DISPATCH_PROPERTYGET, {Make<VT_I2>(SHORT(2)).get()});
    EXPECT_EQ(Text(*key.result.get()), L"b");

    auto files = MakeFiles({{"f", "x.txt", "C:\\t\\1.tmp", 3}});
    DispatchCall file = CallByName(files.get(), L"Item", DISPATCH_PROPERTYGET, {Bstr(L"f").get()});
    IDispatch* fileInfo = DispatchOf(*file.result.get());
    ASSERT_NE(fileInfo, nullptr);
    EXPECT_EQ(Text(*CallByName(fileInfo, L"UserPath", DISPATCH_PROPERTYGET).result.get()), L"x.txt");
    EXPECT_EQ(Text(*CallByName(fileInfo, L"TmpPath", DISPATCH_PROPERTYGET).result.get()), L"C:\\t\\1.tmp");
    EXPECT_EQ(V_I4(CallByName(fileInfo, L"size", DISPATCH_PROPERTYGET).result.get()), 3);
    EXPECT_EQ(CallById(fileInfo, DISPID_VALUE, DISPATCH_PROPERTYGET).hr, DISP_E_MEMBERNOTFOUND)
        << "a file info has no default member";
}

TEST_F(DispatchTest, DeclarationsRefuseBadCallsBeforeTheMemberRuns) {
    auto form = MakeForm({{"a", {"1"}}}, "");
    DispatchCall key = CallByName(form.get(), L"Key", DISPATCH_PROPERTYGET);
    EXPECT_TRUE(key.hr == DISP_E_PARAMNOTFOUND || key.hr == DISP_E_BADPARAMCOUNT)
        << std::hex << key.hr << ": Key needs its argument";
    EXPECT_EQ(V_VT(key.result.get()), VT_EMPTY);
    DispatchCall tooMany = CallByName(form.get(), L"Count", DISPATCH_PROPERTYGET, {I4(1).get()});
    EXPECT_TRUE(tooMany.hr == DISP_E_BADPARAMCOUNT || tooMany.hr == DISP_E_NOTACOLLECTION) << std::hex << tooMany.hr;
    DispatchCall put = CallByName(form.get(), L"Count", DISPATCH_PROPERTYPUT, {I4(1).get()});
    EXPECT_EQ(put.hr, DISP_E_MEMBERNOTFOUND) << "read-only";
    DispatchCall unknownId = CallById(form.get(), 77, DISPATCH_PROPERTYGET);
    EXPECT_EQ(unknownId.hr, DISP_E_MEMBERNOTFOUND);
    DISPPARAMS noArgs{nullptr, nullptr, 0, 0};
    UniqueVariant result;
    EXPECT_EQ(form->Invoke(3, IID_IDispatch, 0, DISPATCH_PROPERTYGET, &noArgs, result.get(), nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
}

TEST_F(DispatchTest, MemberFailuresComeBackAsExceptions) {
    auto collection = MakeCollection({"a"});
    DispatchCall outOfRange = CallByName(collection.get(), L"Item", DISPATCH_PROPERTYGET, {I4(2).get()});
    EXPECT_EQ(outOfRange.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(outOfRange.exceptionCode, E_INVALIDARG);
    EXPECT_EQ(V_VT(outOfRange.result.get()), VT_EMPTY);
}

// Some script engines call property getters with DISPATCH_METHOD alone.
TEST_F(DispatchTest, GettersAnswerCallsMadeAsMethods) {
    auto form = MakeForm({{"a", {"1"}}, {"b", {"2"}}}, "a=1;b=2");
    DispatchCall count = CallByName(form.get(), L"Count", DISPATCH_METHOD);
    ASSERT_EQ(count.hr, S_OK);
    EXPECT_EQ(V_I4(count.result.get()), 2);
    DispatchCall item = CallByName(form.get(), L"Item", DISPATCH_METHOD, {Bstr(L"b").get()});
    ASSERT_EQ(item.hr, S_OK);
    EXPECT_NE(DispatchOf(*item.result.get()), nullptr);
    DispatchCall whole = CallById(form.get(), DISPID_VALUE, DISPATCH_METHOD);
    EXPECT_EQ(Text(*whole.result.get()), L"a=1;b=2");
    DispatchCall enumerator = CallById(form.get(), DISPID_NEWENUM, DISPATCH_METHOD);
    ASSERT_EQ(enumerator.hr, S_OK);
    ASSERT_EQ(V_VT(enumerator.result.get()), VT_UNKNOWN);
    ComPtr<IEnumVARIANT> keys;
    ASSERT_EQ(ComPtr<IUnknown>(V_UNKNOWN(enumerator.result.get())).query(keys, IID_IEnumVARIANT), S_OK);
    UniqueVariant first;
    EXPECT_EQ(keys->Next(1, first.get(), nullptr), S_OK);
    EXPECT_EQ(Text(*first.get()), L"a");
    DispatchCall missingArgument = CallByName(form.get(), L"Key", DISPATCH_METHOD);
    EXPECT_NE(missingArgument.hr, S_OK) << "the retry still checks the declaration";
}

TEST_F(DispatchTest, EachObjectAnswersExactlyItsInterfaces) {
    auto form = CQORFormDictionary::Create();
    auto files = CQORVariantDictionary::Create();
    auto collection = CQORVariantCollection::Create();
    auto info = CQORFileInfo::Create(UniqueBstr(), UniqueBstr(), 0);
    const IID* all[] = {&IID_IQORVariantDictionary, &IID_IQORVariantCollection, &IID_IQORFileInfo,
                        &IID_IQORUpload, &IID_IEnumVARIANT, &IID_ISupportErrorInfo, &IID_IClassFactory};
    struct { IDispatch* object; const IID* own; } objects[] = {
        {form.get(), &IID_IQORVariantDictionary}, {files.get(), &IID_IQORVariantDictionary},
        {collection.get(), &IID_IQORVariantCollection}, {info.get(), &IID_IQORFileInfo}};
    for (const auto& [object, own] : objects) {
        ComPtr<IUnknown> unknown, dispatch, other;
        EXPECT_EQ(object->QueryInterface(IID_IUnknown, unknown.put_void()), S_OK);
        EXPECT_EQ(object->QueryInterface(IID_IDispatch, dispatch.put_void()), S_OK);
        EXPECT_EQ(unknown.get(), dispatch.get()) << "one identity";
        for (const IID* iid : all) {
            EXPECT_EQ(object->QueryInterface(*iid, other.put_void()), iid == own ? S_OK : E_NOINTERFACE);
            EXPECT_EQ(bool(other), iid == own);
        }
        EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    }
}

// Run by a separate CTest entry that leaves the library unregistered.
TEST(UnregisteredLibrary, ObjectsWorkThroughTheirVtableButNotByName) {
    if (!TypeLibraryUnregistered()) GTEST_SKIP() << "only meaningful without the registered library";
    LONG locks = ModuleLockCount();
    {
        auto form = MakeForm({{"a", {"1"}}}, "a=1");
        LONG count = 0;
        EXPECT_EQ(form->get_Count(&count), S_OK);
        EXPECT_EQ(count, 1);
        ComPtr<ITypeInfo> info;
        EXPECT_EQ(form->GetTypeInfo(0, 0, info.put()), TYPE_E_LIBNOTREGISTERED);
        EXPECT_FALSE(info);
        DISPID id = 0;
        auto* name = const_cast<LPOLESTR>(L"Count");
        EXPECT_EQ(form->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), TYPE_E_LIBNOTREGISTERED);
        EXPECT_EQ(CallById(form.get(), 3, DISPATCH_PROPERTYGET).hr, TYPE_E_LIBNOTREGISTERED);

        // A library registered later is found: failures are not cached.
        wchar_t path[MAX_PATH];
        ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
        ComPtr<ITypeLib> library;
        ASSERT_EQ(LoadTypeLibEx(path, REGKIND_REGISTER, library.put()), S_OK);
        DispatchCall count2 = CallByName(form.get(), L"Count", DISPATCH_PROPERTYGET);
        EXPECT_EQ(count2.hr, S_OK);
        EXPECT_EQ(V_I4(count2.result.get()), 1);
        EXPECT_EQ(UnRegisterTypeLib(LIBID_uploadLib, 2, 0, 0, kBuildSysKind), S_OK);
    }
    EXPECT_EQ(ModuleLockCount(), locks);
}

}  // namespace
}  // namespace qor::test
