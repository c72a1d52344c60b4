// What scripts read after ProcessPostData: Form and Files as the request body,
// its length and its content type shape them, through the vtable and by name.
#include "tests/upload/UploadTestSupport.h"

#include <functional>

namespace upload_test {
namespace {

// A host object whose default value is a text, as page hosts hand out
// server variables.
class TextValue : public IDispatch {
public:
    explicit TextValue(const wchar_t* text) : text_(text) {}
    LONG refs() const { return refs_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ? this : nullptr;
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                     UINT*) override {
        if (id != DISPID_VALUE || !result) return DISP_E_MEMBERNOTFOUND;
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = SysAllocString(text_);
        return S_OK;
    }

private:
    const wchar_t* text_;
    LONG refs_ = 1;
};

ComPtr<IQORVariantDictionary> FormOf(IQORUpload* upload) {
    ComPtr<IQORVariantDictionary> form;
    EXPECT_EQ(upload->get_Form(form.put()), S_OK);
    return form;
}

ComPtr<IQORVariantDictionary> FilesOf(IQORUpload* upload) {
    ComPtr<IQORVariantDictionary> files;
    EXPECT_EQ(upload->get_Files(files.put()), S_OK);
    return files;
}

UniqueVariant ItemOf(IQORVariantDictionary* dictionary, const VARIANT& arg) {
    UniqueVariant value;
    EXPECT_EQ(dictionary->get_Item(arg, value.put()), S_OK);
    return value;
}

LONG CountOf(IDispatch* object) {
    NamedCall call = CallByName(object, L"Count", DISPATCH_PROPERTYGET);
    EXPECT_EQ(call.hr, S_OK);
    return V_VT(call.result.get()) == VT_I4 ? V_I4(call.result.get()) : -1;
}

const FormView kABA = Fields(L"a=1,3;b=2", {{L"a", {L"1", L"3"}}, {L"b", {L"2"}}});

}  // namespace

TEST_F(UploadTest, UrlEncodedPairsBecomeFormInPostedOrder) {
    ComPtr<IQORUpload> upload = NewUpload();
    ASSERT_EQ(Start(upload.get()), S_OK);
    ASSERT_EQ(Post(upload.get(), kUrlEncoded, "a=1&b=2&a=3"), S_OK);
    EXPECT_EQ(ReadForm(upload.get()), kABA);
    EXPECT_TRUE(ReadFiles(upload.get()).empty());
    // What the host was asked for.
    EXPECT_EQ(host.LastItemKey(), L"CONTENT_TYPE");
    EXPECT_EQ(host.LastItemKeyType(), VT_BSTR);
    EXPECT_EQ(host.LastReadCountType(), VT_I4);
    EXPECT_EQ(host.LastReadCount(), 11);

    // Keys are exact: the same letters in another case are not posted names.
    ComPtr<IQORVariantDictionary> form = FormOf(upload.get());
    UniqueVariant upper = ItemOf(form.get(), *Text(L"A").get());
    ASSERT_EQ(V_VT(upper.get()), VT_DISPATCH);
    EXPECT_EQ(CountOf(V_DISPATCH(upper.get())), 0);
}

TEST_F(UploadTest, ByNameAScriptReadsTheSameResults) {
    ComPtr<IQORUpload> upload = NewUpload();
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(upload.query(dispatch, IID_IDispatch), S_OK);
    {
        ComPtr<IUnknown> context = host.NewScriptingContext();
        ASSERT_EQ(CallByName(dispatch.get(), L"OnStartPage", DISPATCH_METHOD, {*Unknown(context.get()).get()}).hr,
                  S_OK);
    }
    host.SetContentType(kUrlEncoded);
    host.SetBody("a=1&b=2&a=3");
    ASSERT_EQ(CallByName(dispatch.get(), L"ProcessPostData", DISPATCH_METHOD).hr, S_OK);

    // Form read as a property and, as some script engines call it, as a method.
    for (WORD flags : {WORD(DISPATCH_PROPERTYGET), WORD(DISPATCH_METHOD | DISPATCH_PROPERTYGET), WORD(DISPATCH_METHOD)}) {
        NamedCall form = CallByName(dispatch.get(), L"Form", flags);
        ASSERT_EQ(form.hr, S_OK) << flags;
        ASSERT_EQ(V_VT(form.result.get()), VT_DISPATCH);
        IDispatch* dictionary = V_DISPATCH(form.result.get());
        EXPECT_EQ(CountOf(dictionary), 2);
        EXPECT_EQ(TextOf(*GetItem(dictionary, *Missing().get()).result.get()), L"a=1,3;b=2");
        NamedCall a = GetItem(dictionary, *Text(L"a").get());
        ASSERT_EQ(V_VT(a.result.get()), VT_DISPATCH);
        EXPECT_EQ(TextOf(*GetItem(V_DISPATCH(a.result.get()), *Missing().get()).result.get()), L"1,3");
        EXPECT_EQ(TextOf(*GetItem(V_DISPATCH(a.result.get()), *Int(2).get()).result.get()), L"3");
    }
    NamedCall files = CallByName(dispatch.get(), L"Files", DISPATCH_PROPERTYGET);
    ASSERT_EQ(V_VT(files.result.get()), VT_DISPATCH);
    EXPECT_EQ(CountOf(V_DISPATCH(files.result.get())), 0);
    EXPECT_EQ(V_VT(GetItem(V_DISPATCH(files.result.get()), *Text(L"a").get()).result.get()), VT_EMPTY);
    EXPECT_EQ(CallByName(dispatch.get(), L"OnEndPage", DISPATCH_METHOD).hr, S_OK);
}

TEST_F(UploadTest, UnpostedNamesShareOneEmptyCollectionPerParse) {
    ComPtr<IQORUpload> upload = NewUpload();
    ComPtr<IQORVariantDictionary> form = FormOf(upload.get());
    // Before the first parse nothing stands for a missing name.
    EXPECT_EQ(V_VT(ItemOf(form.get(), *Text(L"x").get()).get()), VT_EMPTY);
    EXPECT_EQ(TextOf(*ItemOf(form.get(), *Missing().get()).get()), L"");

    ASSERT_EQ(Start(upload.get()), S_OK);
    ASSERT_EQ(Post(upload.get(), kUrlEncoded, "a=1"), S_OK);
    UniqueVariant missing = ItemOf(form.get(), *Text(L"x").get());
    ASSERT_EQ(V_VT(missing.get()), VT_DISPATCH);
    ComPtr<IUnknown> empty = Identity(V_DISPATCH(missing.get()));
    EXPECT_EQ(CountOf(V_DISPATCH(missing.get())), 0);
    EXPECT_EQ(TextOf(*GetItem(V_DISPATCH(missing.get()), *Missing().get()).result.get()), L"");
    for (const UniqueVariant& name : {Text(L"y"), Text(L"A"), Text(L""), Int(0), Int(2)}) {
        UniqueVariant value = ItemOf(form.get(), *name.get());
        ASSERT_EQ(V_VT(value.get()), VT_DISPATCH);
        EXPECT_EQ(Identity(V_DISPATCH(value.get())).get(), empty.get());
    }
    EXPECT_EQ(V_VT(ItemOf(FilesOf(upload.get()).get(), *Text(L"x").get()).get()), VT_EMPTY);
}

TEST_F(UploadTest, LaterBodiesMergeIntoTheSameDictionaries) {
    ComPtr<IQORUpload> upload = NewUpload();
    ComPtr<IQORVariantDictionary> form = FormOf(upload.get()), files = FilesOf(upload.get());
    ASSERT_EQ(Start(upload.get()), S_OK);
    ASSERT_EQ(Post(upload.get(), kUrlEncoded, "a=1&b=2&a=3"), S_OK);
    UniqueVariant firstA = ItemOf(form.get(), *Text(L"a").get());
    ASSERT_EQ(Post(upload.get(), kUrlEncoded, "a=4&c=5"), S_OK);

    EXPECT_EQ(ReadForm(upload.get()),
              Fields(L"a=1,3,4;b=2;c=5", {{L"a", {L"1", L"3", L"4"}}, {L"b", {L"2"}}, {L"c", {L"5"}}}));
    // The references taken before the first parse are the same objects.
    EXPECT_EQ(FormOf(upload.get()).get(), form.get());
    EXPECT_EQ(FilesOf(upload.get()).get(), files.get());
    LONG count = 0;
    EXPECT_EQ(form->get_Count(&count), S_OK);
    EXPECT_EQ(count, 3);
    // A collection handed out earlier keeps what it held.
    EXPECT_EQ(CountOf(V_DISPATCH(firstA.get())), 2);
}

TEST_F(UploadTest, TheBodyIsTotalBytesLongOrWhatTheArrayHolds) {
    struct Case {
        const char* name;
        std::function<void(TestHost&)> setUp;
        FormView expected;
    };
    const FormView ab = Fields(L"a=1;b=2", {{L"a", {L"1"}}, {L"b", {L"2"}}});
    const FormView aOnly = Fields(L"a=1", {{L"a", {L"1"}}});
    const FormView none = Fields(L"", {});
    const Case cases[] = {
        {"whole body", [](TestHost&) {}, ab},
        {"total 0", [](TestHost& h) { h.SetTotalBytes(0); }, none},
        {"negative total", [](TestHost& h) { h.SetTotalBytes(-7); }, none},
        {"total shorter than the body", [](TestHost& h) { h.SetTotalBytes(3); }, aOnly},
        {"total beyond the body", [](TestHost& h) { h.SetTotalBytes(1 << 20); }, ab},
        {"array shorter than total", [](TestHost& h) { h.SetReadShape(ReadShape::ShortByteArray, 3); }, aOnly},
        {"array longer than total",
         [](TestHost& h) {
             h.SetTotalBytes(3);
             h.SetReadShape(ReadShape::ShortByteArray, 7);
         },
         aOnly},
        {"array by reference", [](TestHost& h) { h.SetReadShape(ReadShape::ByteArrayByRef); }, ab},
        // With nothing to read, whatever BinaryRead answers is not looked at.
        {"total 0, answered empty",
         [](TestHost& h) {
             h.SetTotalBytes(0);
             h.SetReadShape(ReadShape::NothingAsEmpty);
         },
         none},
        {"negative total, answered null",
         [](TestHost& h) {
             h.SetTotalBytes(-1);
             h.SetReadShape(ReadShape::NothingAsNull);
         },
         none},
        {"total 0, answered with a number",
         [](TestHost& h) {
             h.SetTotalBytes(0);
             h.SetReadShape(ReadShape::NotAnArray);
         },
         none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestHost caseHost;
        c.setUp(caseHost);
        caseHost.SetContentType(kUrlEncoded);
        caseHost.SetBody("a=1&b=2");
        {
            ComPtr<IQORUpload> upload = NewUpload();
            ASSERT_EQ(upload->OnStartPage(caseHost.NewScriptingContext().get()), S_OK);
            EXPECT_EQ(upload->ProcessPostData(), S_OK);
            EXPECT_FALSE(TakeErrorInfo().present);
            EXPECT_EQ(ReadForm(upload.get()), c.expected);
            EXPECT_EQ(caseHost.Calls(HostStep::BinaryRead), 1);
        }
        EXPECT_EQ(caseHost.LiveObjects(), 0);
    }
}

TEST_F(UploadTest, ASecondReadOfAConsumedBodyAddsNothing) {
    ComPtr<IQORUpload> upload = NewUpload();
    ASSERT_EQ(Start(upload.get()), S_OK);
    host.SetReadShape(ReadShape::EmptyAfterFirst);
    ASSERT_EQ(Post(upload.get(), kUrlEncoded, "a=1&b=2&a=3"), S_OK);
    ASSERT_EQ(upload->ProcessPostData(), S_OK);
    EXPECT_EQ(ReadForm(upload.get()), kABA);
    EXPECT_EQ(host.Calls(HostStep::BinaryRead), 2);
}

TEST_F(UploadTest, AnAnswerThatIsNoByteArrayIsATypeMismatch) {
    for (ReadShape shape : {ReadShape::NonByteArray, ReadShape::NotAnArray}) {
        SCOPED_TRACE(static_cast<int>(shape));
        ComPtr<IQORUpload> upload = NewUpload();
        ASSERT_EQ(Start(upload.get()), S_OK);
        ASSERT_EQ(Post(upload.get(), kUrlEncoded, "a=1&b=2&a=3"), S_OK);
        host.SetReadShape(shape);
        EXPECT_EQ(Post(upload.get(), kUrlEncoded, "c=4"), DISP_E_TYPEMISMATCH);
        const ErrorInfo error = TakeErrorInfo();
        EXPECT_EQ(error.description, L"Can't call BinaryRead");
        EXPECT_EQ(error.source, L"");
        EXPECT_EQ(host.LiveObjects(), 1);
        EXPECT_EQ(ReadForm(upload.get()), kABA);

        host.SetReadShape(ReadShape::ByteArray);
        ASSERT_EQ(Post(upload.get(), kUrlEncoded, "c=4"), S_OK);
        EXPECT_EQ(ReadForm(upload.get()).fields.size(), 3u) << "the failed read reached the parser";
    }
}

TEST_F(UploadTest, ContentTypeAsTheHostHandsItOut) {
    ComPtr<IQORUpload> upload = NewUpload();
    ASSERT_EQ(Start(upload.get()), S_OK);
    host.SetBody("a=1");

    // Absent, empty or of another kind: nothing to parse, and no failure.
    UniqueVariant absent;
    ASSERT_EQ(host.SetContentTypeVariant(*absent.get()), S_OK);
    EXPECT_EQ(upload->ProcessPostData(), S_OK);
    for (const wchar_t* other : {L"", L"text/plain", L"Application/x-www-form-urlencoded"}) {
        host.SetContentType(other);
        EXPECT_EQ(upload->ProcessPostData(), S_OK) << other;
    }
    EXPECT_FALSE(TakeErrorInfo().present);
    const FormView none = Fields(L"", {});
    EXPECT_EQ(ReadForm(upload.get()), none);
    ComPtr<IQORVariantDictionary> form = FormOf(upload.get());
    EXPECT_EQ(V_VT(ItemOf(form.get(), *Text(L"a").get()).get()), VT_DISPATCH) << "missing names find the empty collection";

    // A value without text form cannot be a content type.
    UniqueVariant null;
    V_VT(null.get()) = VT_NULL;
    ASSERT_EQ(host.SetContentTypeVariant(*null.get()), S_OK);
    EXPECT_EQ(upload->ProcessPostData(), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(TakeErrorInfo().description, L"Can't convert content-type");
    EXPECT_EQ(host.Calls(HostStep::GetTotalBytes), 4) << "the failed call went on after the conversion";
    EXPECT_EQ(host.LiveObjects(), 1);
    EXPECT_EQ(ReadForm(upload.get()), none);

    // Text given by reference, or as an object's default value, is read.
    UniqueBstr text(SysAllocString(L"application/x-www-form-urlencoded"));
    BSTR variable = text.get();
    UniqueVariant byRef;
    V_VT(byRef.get()) = VT_BYREF | VT_BSTR;
    V_BSTRREF(byRef.get()) = &variable;
    ASSERT_EQ(host.SetContentTypeVariant(*byRef.get()), S_OK);
    EXPECT_EQ(upload->ProcessPostData(), S_OK);
    EXPECT_EQ(ReadForm(upload.get()), Fields(L"a=1", {{L"a", {L"1"}}}));

    TextValue object(L"application/x-www-form-urlencoded");
    {
        UniqueVariant value;
        V_VT(value.get()) = VT_DISPATCH;
        V_DISPATCH(value.get()) = &object;
        object.AddRef();
        ASSERT_EQ(host.SetContentTypeVariant(*value.get()), S_OK);
        host.SetBody("a=2");
        EXPECT_EQ(upload->ProcessPostData(), S_OK);
        EXPECT_EQ(ReadForm(upload.get()), Fields(L"a=1,2", {{L"a", {L"1", L"2"}}}));
        UniqueVariant cleared;
        host.SetContentTypeVariant(*cleared.get());
    }
    EXPECT_EQ(object.refs(), 1) << "the content type object was not released";
}

}  // namespace upload_test
