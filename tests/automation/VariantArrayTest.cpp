#include "tests/automation/TestSupport.h"

#include "com/Failure.h"
#include "automation/VariantArray.h"

namespace qor::test {
namespace {

class VariantArrayTest : public LockAccountedTest {
protected:
    static void Append(VariantArray& array, const std::wstring& text) { array.InsertAt(*Bstr(text).get(), array.count()); }
};

TEST_F(VariantArrayTest, GrowsByDoublingAndKeepsOrder) {
    VariantArray array(16);
    for (int i = 0; i < 16; ++i) Append(array, std::to_wstring(i));
    EXPECT_EQ(array.capacity(), 16u);
    Append(array, L"16");
    EXPECT_EQ(array.capacity(), 32u);
    ASSERT_EQ(array.count(), 17u);
    for (ULONG i = 0; i < 17; ++i) EXPECT_EQ(Text(array[i]), std::to_wstring(i));
    VariantArray empty(0);
    Append(empty, L"x");
    EXPECT_EQ(Text(empty[0]), L"x") << "an array without room still grows";
}

TEST_F(VariantArrayTest, InsertAtFrontMiddleAndBeyondCount) {
    VariantArray array(2);
    Append(array, L"a");
    Append(array, L"b");
    array.InsertAt(*Bstr(L"new").get(), 0);  // full: grows, then shifts
    array.InsertAt(*Bstr(L"mid").get(), 2);
    array.InsertAt(*Bstr(L"far").get(), 1000);
    ASSERT_EQ(array.count(), 5u);
    const wchar_t* expected[] = {L"new", L"a", L"mid", L"b", L"far"};
    for (ULONG i = 0; i < 5; ++i) EXPECT_EQ(Text(array[i]), expected[i]);
}

TEST_F(VariantArrayTest, ResetCountKeepsOldSlotsUntilOverwrittenOrDestroyed) {
    RefProbe first, second, third;
    {
        VariantArray array(16);
        for (RefProbe* probe : {&first, &second, &third}) array.InsertAt(*Object(probe).get(), array.count());
        EXPECT_EQ(first.refs(), 2) << "the array holds its own reference";
        array.ResetCount();
        Append(array, L"p");
        array.InsertAt(*Bstr(L"q").get(), 0);  // shifting into a stale slot releases it
        EXPECT_EQ(array.count(), 2u);
        EXPECT_EQ(Text(array[0]), L"q");
        EXPECT_EQ(Text(array[1]), L"p");
        EXPECT_EQ(first.refs(), 1);
        EXPECT_EQ(second.refs(), 1);
        EXPECT_EQ(third.refs(), 2) << "the third slot keeps its old value";
        array.ResetCount();
        array.InsertAt(*Object(&first).get(), 0);
    }
    for (RefProbe* probe : {&first, &second, &third}) EXPECT_EQ(probe->refs(), 1) << "released with the array";
}

TEST_F(VariantArrayTest, AppendTakesTheValueOverAndReleasesStaleSlots) {
    RefProbe stale, taken;
    {
        VariantArray array(1);
        array.InsertAt(*Object(&stale).get(), 0);
        array.ResetCount();
        UniqueVariant text = Bstr(L"t");
        const BSTR original = V_BSTR(text.get());
        array.Append(std::move(text));
        EXPECT_EQ(V_VT(text.get()), VT_EMPTY) << "the value changed owner";
        EXPECT_EQ(V_BSTR(&array[0]), original) << "no copy was made";
        EXPECT_EQ(stale.refs(), 1) << "the stale value in the slot was released";
        array.Append(Object(&taken));  // full: grows first
        EXPECT_EQ(array.capacity(), 2u);
        EXPECT_EQ(taken.refs(), 2);
        EXPECT_EQ(Text(array[0]), L"t");
    }
    EXPECT_EQ(taken.refs(), 1);
}

TEST_F(VariantArrayTest, FailedCopyChangesNothing) {
    FailingRecordInfo record;
    {
        VariantArray array(2);
        Append(array, L"a");
        Append(array, L"b");
        UniqueVariant failing = record.MakeRecord();
        record.copiesLeft = 0;
        try {
            array.InsertAt(*failing.get(), 0);
            ADD_FAILURE() << "the failed copy was not raised";
        } catch (const AutomationFailure& failure) {
            EXPECT_EQ(failure.code(), E_OUTOFMEMORY);
        }
        ASSERT_EQ(array.count(), 2u);
        EXPECT_EQ(Text(array[0]), L"a");
        EXPECT_EQ(Text(array[1]), L"b");
        record.copiesLeft = 1;
        array.InsertAt(*failing.get(), 1);
        EXPECT_EQ(V_VT(&array[1]), VT_RECORD);
        EXPECT_EQ(Text(array[2]), L"b");
    }
    EXPECT_EQ(record.refs(), 1) << "every copy of the record was released";
}

}  // namespace
}  // namespace qor::test
