#include "automation/ThreadCodePage.h"

#include "tests/upload/CodePageSamples.h"

#include <gtest/gtest.h>

using namespace qor;

TEST(ThreadCodePage, FollowsTheProcessLocaleAndTheThreadLocale) {
    ASSERT_EQ(GetACP(), ExpectedAnsiCodePage()) << "the run's locale did not reach the process";
    const CodePageSample* sample = SampleFor(GetACP());
    ASSERT_NE(sample, nullptr);
    std::string ansi;
    ASSERT_EQ(AnsiFromWide(ThreadAnsiCodePage(), sample->wide, ansi), S_OK);
    EXPECT_EQ(ansi, sample->ansi);

    // The thread's code page, not the system's.
    const LCID saved = GetThreadLocale();
    SetThreadLocale(kRussian);
    const HRESULT hr = AnsiFromWide(ThreadAnsiCodePage(), L"\u0410\u0439", ansi);
    SetThreadLocale(saved);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(ansi, "\xC0\xE9");

    EXPECT_EQ(LocaleAnsiCodePage(kRussian), 1251u);
    // Hindi names no ANSI code page ("0"): the system's is taken.
    EXPECT_EQ(LocaleAnsiCodePage(MAKELCID(MAKELANGID(LANG_HINDI, SUBLANG_DEFAULT), SORT_DEFAULT)), GetACP());
}

TEST(ThreadCodePage, ConversionsAskForTheLengthTheyNeed) {
    // Three UTF-8 bytes per character: more than twice the UTF-16 length.
    const std::wstring euros(1000, L'\u20AC');
    std::string ansi;
    ASSERT_EQ(AnsiFromWide(CP_UTF8, euros, ansi), S_OK);
    ASSERT_EQ(ansi.size(), 3000u);
    std::wstring wide;
    ASSERT_EQ(WideFromAnsi(CP_UTF8, ansi, wide), S_OK);
    EXPECT_EQ(wide, euros);
    // Outside the basic plane: four bytes, two UTF-16 units; NULs are text too.
    ASSERT_EQ(WideFromAnsi(CP_UTF8, std::string_view("\0\xF0\x9F\x98\x80", 5), wide), S_OK);
    EXPECT_EQ(wide, std::wstring(L"\0\U0001F600", 3));
    // A double-byte lead byte at the very end is still one character.
    ASSERT_EQ(WideFromAnsi(932, "abc\x82", wide), S_OK);
    EXPECT_EQ(wide.size(), 4u);

    ASSERT_EQ(AnsiFromWide(1252, L"\u3042=\u20AC", ansi), S_OK);
    EXPECT_EQ(ansi, "?=\x80");  // no mapping: the default character
    EXPECT_EQ(AnsiFromWide(1252, L"", ansi), S_OK);
    EXPECT_EQ(ansi, "");
    EXPECT_TRUE(FAILED(WideFromAnsi(54321, "abc", wide)));  // no such code page
    EXPECT_EQ(wide, L"");
}
