#include "tests/automation/TestSupport.h"

#include "automation/Arguments.h"
#include "com/Failure.h"

#include <cstdlib>

namespace qor::test {
namespace {

class ArgumentsTest : public LockAccountedTest {};

TEST_F(ArgumentsTest, ToPositionOfNumbersAndNumericStrings) {
    EXPECT_EQ(ToPosition(*I4(3).get()), 3u);
    EXPECT_EQ(ToPosition(*UI4(3).get()), 3u);
    EXPECT_EQ(ToPosition(*UI4(4294967295u).get()), 4294967295u);
    EXPECT_EQ(ToPosition(*Bstr(L"3").get()), 3u);
    EXPECT_EQ(ToPosition(*Bstr(L"4294967295").get()), 4294967295u);
    EXPECT_EQ(ToPosition(*R8(2.0).get()), 2u);
    EXPECT_EQ(ToPosition(*UniqueVariant().get()), 0u) << "VT_EMPTY converts to 0";
    UniqueVariant variable = I4(7);
    EXPECT_EQ(ToPosition(ByRef(variable.get())), 7u) << "references are followed";
    RefProbe object;
    object.value = 2;
    EXPECT_EQ(ToPosition(*Object(&object).get()), 2u) << "an object's default value";
}

TEST_F(ArgumentsTest, ToPositionOfWhatIsNoPosition) {
    for (const UniqueVariant& none : {Bstr(L"two"), Bstr(L""), Bstr(L"-1"), Bstr(L"4294967296"), R8(4294967296.0),
                                      Null(), Missing(), I4(-1), Make<VT_I1>(CHAR(-1)), Make<VT_INT>(-2),
                                      Make<VT_I8>(LONGLONG(-3))})
        EXPECT_EQ(ToPosition(*none.get()), 0u) << "type " << V_VT(none.get());
    UniqueVariant minus = I4(-1);
    EXPECT_EQ(ToPosition(ByRef(minus.get())), 0u) << "a negative script variable";
    LONG typed = -4;
    UniqueVariant typedRef = Make<VT_BYREF | VT_I4>(&typed);
    EXPECT_EQ(ToPosition(*typedRef.get()), 0u);
    typed = 4;
    EXPECT_EQ(ToPosition(*typedRef.get()), 4u);
    typedRef.release();
}

TEST_F(ArgumentsTest, IsMissingArgumentOnlyForTheOmittedMarker) {
    EXPECT_TRUE(IsMissingArgument(*Missing().get()));
    EXPECT_FALSE(IsMissingArgument(*Make<VT_ERROR>(DISP_E_TYPEMISMATCH).get()));
    SCODE code = DISP_E_PARAMNOTFOUND;
    EXPECT_FALSE(IsMissingArgument(Make<VT_BYREF | VT_ERROR>(&code).release()));
    UniqueVariant missing = Missing();
    EXPECT_FALSE(IsMissingArgument(ByRef(missing.get())));
    EXPECT_FALSE(IsMissingArgument(*I4(static_cast<LONG>(DISP_E_PARAMNOTFOUND)).get()));
}

TEST_F(ArgumentsTest, ResolveReferenceReplacesOnlyVariantReferences) {
    UniqueVariant target = Bstr(L"name");
    UniqueVariant arg = UniqueVariant::Attach(ByRef(target.get()));
    ResolveReference(*arg.get());
    EXPECT_EQ(Text(*arg.get()), L"name");
    EXPECT_NE(V_BSTR(arg.get()), V_BSTR(target.get())) << "a copy, not the script's own string";

    BSTR text = SysAllocString(L"t");
    VARIANT stringRef = Make<VT_BYREF | VT_BSTR>(&text).release();
    ResolveReference(stringRef);
    EXPECT_EQ(V_VT(&stringRef), VT_BYREF | VT_BSTR);
    SysFreeString(text);

    VARIANT dangling = ByRef(nullptr);
    EXPECT_THROW(ResolveReference(dangling), AutomationFailure);
}

TEST_F(ArgumentsTest, ToAutomationStringStopsAtTheFirstZeroByte) {
    EXPECT_EQ(ToAutomationString(nullptr).get(), nullptr);
    UniqueBstr empty = ToAutomationString("");
    ASSERT_NE(empty.get(), nullptr) << "empty text is an allocated empty string";
    EXPECT_EQ(empty.length(), 0u);
    UniqueBstr cut = ToAutomationString("ab\0cd");
    EXPECT_EQ(cut.length(), 2u);
    EXPECT_STREQ(cut.get(), L"ab");
    std::string longText(100000, 'x');
    EXPECT_EQ(ToAutomationString(longText.c_str()).length(), 100000u);
}

// CTest runs this program once per code page and says through QOR_EXPECT_ACP
// which one to expect, so a run under the wrong locale fails instead of
// testing the same page twice.
TEST_F(ArgumentsTest, ToAutomationStringUsesTheSystemAnsiCodePage) {
    const char* expected = std::getenv("QOR_EXPECT_ACP");
    ASSERT_NE(expected, nullptr) << "run through CTest, which sets QOR_EXPECT_ACP and LC_ALL";
    ASSERT_EQ(GetACP(), static_cast<UINT>(std::atoi(expected)));
    UniqueBstr text = ToAutomationString("\xC0\xE9\xFF-\x80");
    std::wstring converted(text.get(), text.length());
    if (GetACP() == 1252) {
        EXPECT_EQ(converted, L"\u00C0\u00E9\u00FF-\u20AC");
    } else if (GetACP() == 1251) {
        EXPECT_EQ(converted, L"\u0410\u0439\u044F-\u0402");
    } else {
        FAIL() << "no expectation for code page " << GetACP();
    }
}

// A code page the caller names converts the same whatever the system's is;
// UTF-8 turns each ill-formed sequence into U+FFFD.
TEST_F(ArgumentsTest, ToAutomationStringInANamedCodePage) {
    const struct {
        UINT codePage;
        const char* text;
        const wchar_t* expected;
    } rows[] = {
        {CP_UTF8, "caf\xC3\xA9 \xE6\x97\xA5", L"caf\u00E9 \u65E5"},
        {CP_UTF8, "a\xC3(\xFF\xE6\x97", L"a\uFFFD(\uFFFD\uFFFD"},
        {CP_UTF8, "", L""},
        {1252, "caf\xE9\x80", L"caf\u00E9\u20AC"},
        {1251, "\xC0\xE9", L"\u0410\u0439"},
    };
    for (const auto& row : rows) {
        UniqueBstr text = ToAutomationString(row.text, row.codePage);
        ASSERT_NE(text.get(), nullptr);
        EXPECT_EQ(std::wstring(text.get(), text.length()), row.expected) << row.codePage << " " << row.text;
    }
}

}  // namespace
}  // namespace qor::test
