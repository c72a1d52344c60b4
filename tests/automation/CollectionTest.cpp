#include "tests/automation/TestSupport.h"

#include "com/Failure.h"

namespace qor::test {
namespace {

class CollectionTest : public LockAccountedTest {
protected:
    static std::wstring Joined(IQORVariantCollection* collection) {
        UniqueVariant out;
        EXPECT_EQ(collection->get_Item(*Missing().get(), out.get()), S_OK);
        return Text(*out.get());
    }
    static HRESULT ItemAt(IQORVariantCollection* collection, const VARIANT& arg, UniqueVariant& out) {
        return collection->get_Item(arg, out.put());
    }
};

TEST_F(CollectionTest, JoinsWithSingleCommasKeepingEmptyValues) {
    EXPECT_EQ(Joined(MakeCollection({"a", "b", "c"}).get()), L"a,b,c");
    EXPECT_EQ(Joined(MakeCollection({"a", "", "b"}).get()), L"a,,b");
    EXPECT_EQ(Joined(MakeCollection({"", ""}).get()), L",");
    EXPECT_EQ(Joined(MakeCollection({"x,y", "z"}).get()), L"x,y,z") << "values are not escaped";
    auto withZero = CQORVariantCollection::Create();
    withZero->AppendValue(*Bstr(std::wstring(L"a\0b", 3)).get());
    withZero->AppendValue(*Bstr(L"c").get());
    EXPECT_EQ(Joined(withZero.get()), std::wstring(L"a\0b,c", 5)) << "nothing is cut at an embedded zero";

    UniqueVariant single;
    ASSERT_EQ(MakeCollection({""})->get_Item(*Missing().get(), single.get()), S_OK);
    ASSERT_NE(V_BSTR(single.get()), nullptr);
    EXPECT_EQ(SysStringLen(V_BSTR(single.get())), 0u);
    UniqueVariant none;
    ASSERT_EQ(MakeCollection({})->get_Item(*Missing().get(), none.get()), S_OK);
    EXPECT_EQ(V_VT(none.get()), VT_BSTR);
    EXPECT_EQ(V_BSTR(none.get()), nullptr) << "no values: a null string, read as empty";
}

TEST_F(CollectionTest, PositionsSelectValuesAndEverythingElseIsInvalid) {
    auto collection = MakeCollection({"a", "b", "c"});
    LONG count = 0;
    EXPECT_EQ(collection->get_Count(&count), S_OK);
    EXPECT_EQ(count, 3);
    UniqueVariant out;
    EXPECT_EQ(ItemAt(collection.get(), *I4(1).get(), out), S_OK);
    EXPECT_EQ(Text(*out.get()), L"a");
    EXPECT_EQ(ItemAt(collection.get(), *UI4(3).get(), out), S_OK);
    EXPECT_EQ(Text(*out.get()), L"c");
    EXPECT_EQ(ItemAt(collection.get(), *Bstr(L"2").get(), out), S_OK);
    EXPECT_EQ(Text(*out.get()), L"b");
    for (const UniqueVariant& bad : {I4(0), I4(4), I4(-1), Bstr(L"a"), Null(), UniqueVariant()}) {
        EXPECT_EQ(ItemAt(collection.get(), *bad.get(), out), E_INVALIDARG);
        EXPECT_EQ(V_VT(out.get()), VT_EMPTY);
    }
    EXPECT_EQ(MakeCollection({})->get_Item(*I4(1).get(), out.put()), E_INVALIDARG);

    EXPECT_EQ(collection->get_Item(*I4(1).get(), nullptr), E_POINTER);
    EXPECT_EQ(collection->get_Item(*Missing().get(), nullptr), E_POINTER);
    EXPECT_EQ(collection->get_Count(nullptr), E_POINTER);
    EXPECT_EQ(collection->get__NewEnum(nullptr), E_POINTER);
    EXPECT_THROW(collection->AppendValue(*I4(5).get()), AutomationFailure) << "values are strings";
}

TEST_F(CollectionTest, EnumeratorOutlivesTheCollection) {
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(MakeCollection({"x", "y"})->get__NewEnum(unknown.put()), S_OK);
    ComPtr<IEnumVARIANT> enumerator;
    ASSERT_EQ(unknown.query(enumerator, IID_IEnumVARIANT), S_OK);
    // Next leaves the slots after the last one fetched untouched: start them empty.
    VARIANT out[3];
    for (VARIANT& v : out) VariantInit(&v);
    ULONG fetched = 0;
    EXPECT_EQ(enumerator->Next(3, out, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(Text(out[0]), L"x");
    EXPECT_EQ(Text(out[1]), L"y");
    for (VARIANT& v : out) VariantClear(&v);
}

}  // namespace
}  // namespace qor::test
