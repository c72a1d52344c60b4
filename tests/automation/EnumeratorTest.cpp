#include "tests/automation/TestSupport.h"

#include "automation/CQORVariantEnum.h"
#include "automation/VariantArray.h"

namespace qor::test {
namespace {

class EnumeratorTest : public LockAccountedTest {
protected:
    static ComPtr<IEnumVARIANT> Enumerate(const VariantArray& source) {
        ComPtr<IUnknown> unknown;
        EXPECT_EQ(CQORVariantEnum::CreateSnapshot(source, unknown.put()), S_OK);
        ComPtr<IEnumVARIANT> enumerator;
        if (unknown) {
            EXPECT_EQ(unknown.query(enumerator, IID_IEnumVARIANT), S_OK);
        }
        return enumerator;
    }
    static ComPtr<IEnumVARIANT> Enumerate(std::initializer_list<const wchar_t*> texts) {
        VariantArray source(16);
        for (const wchar_t* text : texts) source.InsertAt(*Bstr(text).get(), source.count());
        return Enumerate(source);
    }
    // The next element's text, or "<end>" when Next reports S_FALSE.
    static std::wstring NextText(IEnumVARIANT* enumerator) {
        UniqueVariant element;
        ULONG fetched = 99;
        HRESULT hr = enumerator->Next(1, element.get(), &fetched);
        EXPECT_EQ(fetched, hr == S_OK ? 1u : 0u);
        if (hr == S_FALSE) return L"<end>";
        EXPECT_EQ(hr, S_OK);
        return Text(*element.get());
    }
    // Fetches up to n elements in one call; returns the texts.
    static std::vector<std::wstring> NextTexts(IEnumVARIANT* enumerator, ULONG n, HRESULT expected) {
        std::vector<VARIANT> out(n);
        ULONG fetched = 99;
        EXPECT_EQ(enumerator->Next(n, out.data(), &fetched), expected);
        std::vector<std::wstring> texts;
        for (ULONG i = 0; i < fetched; ++i) {
            texts.push_back(Text(out[i]));
            VariantClear(&out[i]);
        }
        return texts;
    }
};

using Texts = std::vector<std::wstring>;

TEST_F(EnumeratorTest, NextCountsAndResults) {
    auto enumerator = Enumerate({L"a", L"b", L"c"});
    EXPECT_EQ(NextText(enumerator.get()), L"a");
    EXPECT_EQ(NextText(enumerator.get()), L"b");
    EXPECT_EQ(NextText(enumerator.get()), L"c");
    VARIANT slot = I4(1234).release();
    ULONG fetched = 99;
    EXPECT_EQ(enumerator->Next(1, &slot, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(V_I4(&slot), 1234) << "the slot is left untouched at the end";

    EXPECT_EQ(enumerator->Reset(), S_OK);
    EXPECT_EQ(NextTexts(enumerator.get(), 10, S_FALSE), (Texts{L"a", L"b", L"c"})) << "more than remain";
    EXPECT_EQ(enumerator->Reset(), S_OK);
    EXPECT_EQ(NextTexts(enumerator.get(), 3, S_OK), (Texts{L"a", L"b", L"c"})) << "exactly what remains";
    EXPECT_EQ(NextTexts(enumerator.get(), 2, S_FALSE), Texts{});
}

TEST_F(EnumeratorTest, BadArgumentsAreRefusedWithoutMoving) {
    auto enumerator = Enumerate({L"a", L"b"});
    VARIANT out[2];
    ULONG fetched = 99;
    EXPECT_EQ(enumerator->Next(0, out, &fetched), E_INVALIDARG);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(enumerator->Next(2, out, nullptr), E_POINTER);
    EXPECT_EQ(enumerator->Next(1, nullptr, &fetched), E_POINTER);
    EXPECT_EQ(enumerator->Skip(0), E_INVALIDARG);
    EXPECT_EQ(enumerator->Clone(nullptr), E_POINTER);
    EXPECT_EQ(NextText(enumerator.get()), L"a") << "the cursor did not move";
    EXPECT_EQ(CQORVariantEnum::CreateSnapshot(VariantArray(1), nullptr), E_POINTER);
    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(enumerator.query(dispatch, IID_IDispatch), E_NOINTERFACE) << "IUnknown and IEnumVARIANT only";
}

TEST_F(EnumeratorTest, SkipStopsAtTheEndAndResetStartsOver) {
    auto enumerator = Enumerate({L"a", L"b", L"c"});
    EXPECT_EQ(enumerator->Skip(2), S_OK);
    EXPECT_EQ(NextText(enumerator.get()), L"c");
    EXPECT_EQ(enumerator->Reset(), S_OK);
    EXPECT_EQ(enumerator->Skip(5), S_FALSE);
    EXPECT_EQ(NextText(enumerator.get()), L"<end>");
    EXPECT_EQ(enumerator->Reset(), S_OK);
    EXPECT_EQ(NextText(enumerator.get()), L"a");

    auto empty = Enumerate({});
    EXPECT_EQ(NextText(empty.get()), L"<end>");
    EXPECT_EQ(empty->Skip(1), S_FALSE);
}

TEST_F(EnumeratorTest, SnapshotIgnoresLaterChangesOfTheSource) {
    RefProbe probe;
    VariantArray source(16);
    source.InsertAt(*Bstr(L"old").get(), 0);
    source.InsertAt(*Object(&probe).get(), 1);
    auto enumerator = Enumerate(source);
    EXPECT_EQ(probe.refs(), 3) << "the snapshot holds its own reference";
    source.ResetCount();
    source.InsertAt(*Bstr(L"new").get(), 0);
    source.InsertAt(*Bstr(L"new2").get(), 1);
    EXPECT_EQ(NextText(enumerator.get()), L"old");
    UniqueVariant element;
    EXPECT_EQ(enumerator->Next(1, element.get(), nullptr), S_OK);
    EXPECT_EQ(DispatchOf(*element.get()), &probe);
    element.reset();
    enumerator.reset();
    EXPECT_EQ(probe.refs(), 1);
}

TEST_F(EnumeratorTest, ClonesStartAtTheCursorAndKeepTheOwnerAlive) {
    RefProbe probe;
    VariantArray source(16);
    for (const wchar_t* text : {L"a", L"b", L"c"}) source.InsertAt(*Bstr(text).get(), source.count());
    source.InsertAt(*Object(&probe).get(), 1);  // a, probe, b, c
    auto original = Enumerate(source);
    source.ResetCount();
    EXPECT_EQ(NextText(original.get()), L"a");
    ComPtr<IEnumVARIANT> clone, cloneOfClone;
    ASSERT_EQ(original->Clone(clone.put()), S_OK);
    ASSERT_EQ(original->Skip(1), S_OK);
    EXPECT_EQ(NextText(original.get()), L"b") << "the two move independently";
    ASSERT_EQ(clone->Skip(1), S_OK);
    ASSERT_EQ(clone->Clone(cloneOfClone.put()), S_OK);
    EXPECT_EQ(NextText(clone.get()), L"b");

    LONG locksWithAll = ModuleLockCount();
    original.reset();
    EXPECT_EQ(ModuleLockCount(), locksWithAll) << "the owner lives on for its clones";
    clone.reset();
    EXPECT_EQ(ModuleLockCount(), locksWithAll - 1) << "a clone of a clone refers to the owner, not to the clone";
    EXPECT_EQ(NextText(cloneOfClone.get()), L"b");
    EXPECT_EQ(NextText(cloneOfClone.get()), L"c");
    EXPECT_EQ(cloneOfClone->Reset(), S_OK);
    UniqueVariant element;
    ASSERT_EQ(cloneOfClone->Skip(1), S_OK);
    ASSERT_EQ(cloneOfClone->Next(1, element.get(), nullptr), S_OK);
    EXPECT_EQ(DispatchOf(*element.get()), &probe);
    element.reset();
    EXPECT_EQ(probe.refs(), 3) << "the source's stale slot and the shared snapshot";
    cloneOfClone.reset();
    EXPECT_EQ(ModuleLockCount(), locksWithAll - 3) << "the owner goes with its last clone";
    EXPECT_EQ(probe.refs(), 2);
}

TEST_F(EnumeratorTest, FailedCopiesReleaseWhatTheyMadeAndLoseNothing) {
    FailingRecordInfo record;
    {
        VariantArray source(16);
        source.InsertAt(*Bstr(L"a").get(), 0);
        source.InsertAt(*record.MakeRecord().get(), 1);
        source.InsertAt(*Bstr(L"c").get(), 2);
        record.copiesLeft = 0;
        ComPtr<IUnknown> failed;
        EXPECT_EQ(CQORVariantEnum::CreateSnapshot(source, failed.put()), E_OUTOFMEMORY);
        EXPECT_FALSE(failed);

        record.copiesLeft = 1;  // into the snapshot
        auto enumerator = Enumerate(source);
        VARIANT out[3];
        ULONG fetched = 99;
        EXPECT_EQ(enumerator->Next(3, out, &fetched), E_OUTOFMEMORY);
        EXPECT_EQ(fetched, 0u);
        EXPECT_EQ(V_VT(&out[0]), VT_EMPTY) << "the string copied before the failure was released";
        record.copiesLeft = 1;
        EXPECT_EQ(NextText(enumerator.get()), L"a") << "the failed call passed nothing over";
        UniqueVariant element;
        EXPECT_EQ(enumerator->Next(1, element.get(), nullptr), S_OK);
        EXPECT_EQ(V_VT(element.get()), VT_RECORD);
    }
    EXPECT_EQ(record.refs(), 1);
}

}  // namespace
}  // namespace qor::test
