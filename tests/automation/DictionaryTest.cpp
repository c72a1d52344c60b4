#include "tests/automation/TestSupport.h"

#include "com/Failure.h"

namespace qor::test {
namespace {

class DictionaryTest : public LockAccountedTest {
protected:
    static UniqueVariant Item(IQORVariantDictionary* dictionary, const VARIANT& arg) {
        UniqueVariant out;
        EXPECT_EQ(dictionary->get_Item(arg, out.get()), S_OK);
        return out;
    }
    static UniqueVariant Key(IQORVariantDictionary* dictionary, const VARIANT& arg) {
        UniqueVariant out;
        EXPECT_EQ(dictionary->get_Key(arg, out.get()), S_OK);
        return out;
    }
    // The joined values of the collection that a Form lookup gives.
    static std::wstring Values(IQORVariantDictionary* form, const VARIANT& arg) {
        UniqueVariant value = Item(form, arg);
        if (!DispatchOf(*value.get())) return L"<not a collection>";
        DispatchCall joined = CallById(DispatchOf(*value.get()), DISPID_VALUE, DISPATCH_PROPERTYGET);
        return Text(*joined.result.get());
    }
    static LONG Count(IQORVariantDictionary* dictionary) {
        LONG count = -1;
        EXPECT_EQ(dictionary->get_Count(&count), S_OK);
        return count;
    }
};

TEST_F(DictionaryTest, ExactKeyBeatsPositionAndNumbersSelectPositions) {
    auto form = MakeForm({{"2", {"two"}}, {"a", {"1", "3"}}, {"b", {"x"}}}, "2=two;a=1,3;b=x");
    EXPECT_EQ(Values(form.get(), *Bstr(L"2").get()), L"two") << "the key \"2\" is the first entry";
    EXPECT_EQ(Values(form.get(), *I4(2).get()), L"1,3") << "the number 2 is the second entry";
    EXPECT_EQ(Values(form.get(), *Bstr(L"3").get()), L"x") << "a numeric string that is no key is a position";
    EXPECT_EQ(Values(form.get(), *R8(1.0).get()), L"two");
    EXPECT_EQ(Values(form.get(), *Bstr(L"b").get()), L"x");

    UniqueVariant variable = Bstr(L"a");
    EXPECT_EQ(Values(form.get(), ByRef(variable.get())), L"1,3") << "a key in a script variable";
    UniqueVariant seven = Bstr(L"2");
    EXPECT_EQ(Values(form.get(), ByRef(seven.get())), L"two") << "by reference the key still beats the position";
    UniqueVariant number = I4(3);
    EXPECT_EQ(Values(form.get(), ByRef(number.get())), L"x");
    BSTR typed = SysAllocString(L"b");
    EXPECT_EQ(Values(form.get(), Make<VT_BYREF | VT_BSTR>(&typed).release()), L"x")
        << "a string passed by reference finds its key";
    SysFreeString(typed);
}

TEST_F(DictionaryTest, MissesGiveTheMissingKeyValue) {
    auto form = MakeForm({{"a", {"1"}}, {"b", {"2"}}}, "a=1;b=2");
    UniqueVariant first = Item(form.get(), *Bstr(L"nothere").get());
    IDispatch* empty = DispatchOf(*first.get());
    ASSERT_NE(empty, nullptr) << "Form gives an empty collection for names not posted";
    DispatchCall count = CallByName(empty, L"Count", DISPATCH_PROPERTYGET);
    EXPECT_EQ(V_I4(count.result.get()), 0);
    for (const UniqueVariant& miss : {Bstr(L"A"), Bstr(L"a "), Bstr(L""), I4(0), I4(-1), I4(3),
                                      Bstr(L"4294967296"), Null(), UniqueVariant()})
        EXPECT_EQ(DispatchOf(*Item(form.get(), *miss.get()).get()), empty) << "one empty collection for every miss";

    auto files = MakeFiles({{"f", "a.txt", "C:\\t\\1.tmp", 1}});
    EXPECT_EQ(V_VT(Item(files.get(), *Bstr(L"g").get()).get()), VT_EMPTY);
    EXPECT_EQ(V_VT(Item(files.get(), *I4(2).get()).get()), VT_EMPTY);
    auto fresh = CQORFormDictionary::Create();
    EXPECT_EQ(V_VT(Item(fresh.get(), *Bstr(L"a").get()).get()), VT_EMPTY) << "before any parse";
}

TEST_F(DictionaryTest, ItemWithoutArgumentDiffersBetweenFormAndFiles) {
    auto form = CQORFormDictionary::Create();
    UniqueVariant before = Item(form.get(), *Missing().get());
    ASSERT_EQ(V_VT(before.get()), VT_BSTR);
    EXPECT_NE(V_BSTR(before.get()), nullptr) << "the empty string before any parse";
    FillForm(*form.get(), {{"a", {"1", "3"}}, {"b", {"2"}}}, "a=1,3;b=2");
    UniqueVariant whole = Item(form.get(), *Missing().get());
    EXPECT_EQ(Text(*whole.get()), L"a=1,3;b=2");
    EXPECT_NE(V_BSTR(whole.get()), V_BSTR(Item(form.get(), *Missing().get()).get())) << "a copy per call";
    UniqueVariant missing = Missing();
    EXPECT_NE(V_VT(Item(form.get(), ByRef(missing.get())).get()), VT_BSTR) << "only the marker itself counts";

    auto files = MakeFiles({{"f", "a.txt", "C:\\t\\1.tmp", 1}});
    EXPECT_EQ(V_VT(Item(files.get(), *Missing().get()).get()), VT_EMPTY);
}

TEST_F(DictionaryTest, KeyReadsByPositionOnly) {
    auto form = MakeForm({{"2", {"x"}}, {"b", {"y"}}, {"c", {"z"}}}, "");
    EXPECT_EQ(Text(*Key(form.get(), *I4(1).get()).get()), L"2");
    EXPECT_EQ(Text(*Key(form.get(), *Bstr(L"3").get()).get()), L"c");
    EXPECT_EQ(Text(*Key(form.get(), *Bstr(L"2").get()).get()), L"b") << "Key never searches the keys";
    for (const UniqueVariant& none : {I4(0), I4(4), I4(-1), Bstr(L"b"), Null(), Missing()})
        EXPECT_EQ(V_VT(Key(form.get(), *none.get()).get()), VT_EMPTY);
}

TEST_F(DictionaryTest, DuplicateAndEmptyKeys) {
    auto files = MakeFiles({{"f", "one.txt", "C:\\t\\1.tmp", 1}, {"", "anon.txt", "C:\\t\\2.tmp", 2},
                            {"f", "two.txt", "C:\\t\\3.tmp", 3}});
    EXPECT_EQ(Count(files.get()), 3);
    auto size = [&](const VARIANT& arg) {
        UniqueVariant value = Item(files.get(), arg);
        return DispatchOf(*value.get()) ? V_I4(CallByName(DispatchOf(*value.get()), L"Size", DISPATCH_PROPERTYGET).result.get()) : -1;
    };
    EXPECT_EQ(size(*Bstr(L"f").get()), 1) << "the first entry with the key wins";
    EXPECT_EQ(size(*I4(3).get()), 3) << "the second is reached by position";
    EXPECT_EQ(Text(*Key(files.get(), *I4(1).get()).get()), Text(*Key(files.get(), *I4(3).get()).get()));
    EXPECT_EQ(size(*Bstr(L"").get()), 2) << "an empty name is an ordinary key";
    EXPECT_EQ(size(*Make<VT_BSTR>(BSTR(nullptr)).get()), 2) << "and a null string is the empty string";
}

TEST_F(DictionaryTest, RefillKeepsHandedOutObjectsAndEnumeratorSnapshots) {
    auto form = MakeForm({{"a", {"1"}}, {"b", {"2"}}}, "a=1;b=2");
    UniqueVariant oldA = Item(form.get(), *Bstr(L"a").get());
    UniqueVariant oldMissing = Item(form.get(), *Bstr(L"zz").get());
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(form->get__NewEnum(unknown.put()), S_OK);
    ComPtr<IEnumVARIANT> keys;
    ASSERT_EQ(unknown.query(keys, IID_IEnumVARIANT), S_OK);

    FillForm(*form.get(), {{"c", {"3"}}}, "c=3");
    EXPECT_EQ(Count(form.get()), 1);
    EXPECT_EQ(Values(form.get(), *Bstr(L"c").get()), L"3");
    EXPECT_NE(DispatchOf(*Item(form.get(), *Bstr(L"zz").get()).get()), DispatchOf(*oldMissing.get()))
        << "each fill brings its own empty collection";
    EXPECT_EQ(V_I4(CallByName(DispatchOf(*oldA.get()), L"Count", DISPATCH_PROPERTYGET).result.get()), 1)
        << "a collection kept by a script stays valid";

    VARIANT out[3];
    ULONG fetched = 0;
    EXPECT_EQ(keys->Next(3, out, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u) << "the enumerator keeps the keys of its time";
    EXPECT_EQ(Text(out[0]), L"a");
    EXPECT_EQ(Text(out[1]), L"b");
    VariantClear(&out[0]);
    VariantClear(&out[1]);

    for (int i = 0; i < 40; ++i) form->AppendEntry(*Bstr(L"k" + std::to_wstring(i)).get(), *I4(i).get());
    EXPECT_EQ(V_I4(Item(form.get(), *I4(18).get()).get()), 16) << "positions beyond the first 16 entries";
    EXPECT_EQ(Text(*Key(form.get(), *I4(41).get()).get()), L"k39");
}

TEST_F(DictionaryTest, FillingKeepsKeysAndValuesInStep) {
    FailingRecordInfo record;
    RefProbe old;
    {
        auto files = CQORVariantDictionary::Create();
        files->AppendEntry(*Bstr(L"a").get(), *Bstr(L"1").get());
        UniqueVariant failing = record.MakeRecord();
        record.copiesLeft = 0;
        EXPECT_THROW(files->AppendEntry(*Bstr(L"b").get(), *failing.get()), AutomationFailure);
        EXPECT_THROW(files->AppendEntry(*I4(1).get(), *Bstr(L"2").get()), AutomationFailure) << "keys are strings";
        files->AppendEntry(*Bstr(L"c").get(), *Bstr(L"3").get());
        EXPECT_EQ(Count(files.get()), 2);
        EXPECT_EQ(Text(*Item(files.get(), *Bstr(L"c").get()).get()), L"3");
        EXPECT_EQ(Text(*Item(files.get(), *I4(2).get()).get()), L"3");

        files->SetMissingKeyValue(*Object(&old).get());
        EXPECT_EQ(DispatchOf(*Item(files.get(), *Bstr(L"zz").get()).get()), &old);
        EXPECT_THROW(files->SetMissingKeyValue(*failing.get()), AutomationFailure);
        EXPECT_EQ(DispatchOf(*Item(files.get(), *Bstr(L"zz").get()).get()), &old) << "a failed replacement keeps the old";
        files->SetMissingKeyValue(*Bstr(L"none").get());
        EXPECT_EQ(old.refs(), 1) << "the replaced value was released";

        record.copiesLeft = 1;
        files->AppendEntry(*Bstr(L"r").get(), *record.MakeRecord().get());
        UniqueVariant out;
        EXPECT_EQ(files->get_Item(*Bstr(L"r").get(), out.put()), E_OUTOFMEMORY) << "the copy's own failure";
        EXPECT_EQ(V_VT(out.get()), VT_EMPTY);
    }
    EXPECT_EQ(record.refs(), 1);
}

TEST_F(DictionaryTest, NullOutPointersAndBrokenReferences) {
    auto form = MakeForm({{"a", {"1"}}}, "a=1");
    EXPECT_EQ(form->get_Item(*Bstr(L"a").get(), nullptr), E_POINTER);
    EXPECT_EQ(form->get_Item(*Missing().get(), nullptr), E_POINTER);
    EXPECT_EQ(form->get_Key(*I4(1).get(), nullptr), E_POINTER);
    EXPECT_EQ(form->get_Count(nullptr), E_POINTER);
    EXPECT_EQ(form->get__NewEnum(nullptr), E_POINTER);
    UniqueVariant out;
    EXPECT_EQ(form->get_Item(ByRef(nullptr), out.put()), E_POINTER) << "a reference to nothing";
    EXPECT_EQ(V_VT(out.get()), VT_EMPTY);
}

}  // namespace
}  // namespace qor::test
