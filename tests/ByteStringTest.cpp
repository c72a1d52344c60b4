#include "support/ByteString.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/TextArena.h"

using namespace qor;

TEST(ByteString, CapacityFollowsAssignAndPushRules) {
    ByteString s;
    EXPECT_EQ(s.Length(), 0u);
    EXPECT_EQ(s.Capacity(), 16u);
    EXPECT_STREQ(s.Text(), "");

    s.Assign("0123456789abcdef");  // 16 fits
    EXPECT_EQ(s.Capacity(), 16u);
    s.Assign("0123456789abcdefg");  // 17 grows to 32
    EXPECT_EQ(s.Capacity(), 32u);
    s.Assign("0123456789012345678901234567890123456789");  // 40 grows to 48
    EXPECT_EQ(s.Capacity(), 48u);
    s.Assign("");
    EXPECT_EQ(s.Capacity(), 48u);
    EXPECT_EQ(s.Length(), 0u);
    s.Assign("0123456789012345678901234567890123456789012345678");  // 49 > 48
    EXPECT_EQ(s.Capacity(), 64u);
    for (int i = 0; i < 16; ++i) s.PushChar('x');
    EXPECT_EQ(s.Capacity(), 128u);  // doubles from 64

    ByteString p;
    for (int i = 0; i < 17; ++i) p.PushChar('a');
    EXPECT_EQ(p.Capacity(), 32u);
    EXPECT_EQ(p.Length(), 17u);

    ByteString q;
    q.Assign("0123456789012345678901234567890123456789");
    for (int i = 0; i < 9; ++i) q.PushChar('y');  // 48 -> 96
    EXPECT_EQ(q.Capacity(), 96u);
}

TEST(ByteString, CopyConstructionUsesCapacityRule) {
    ByteString s;
    for (int i = 0; i < 40; ++i) s.PushChar('z');  // capacity 64
    ByteString copy(s);
    EXPECT_EQ(copy.Capacity(), 48u);
    EXPECT_TRUE(copy.Equals(s));
    EXPECT_NE(copy.Text(), s.Text());
    ByteString empty;
    ByteString emptyCopy(empty);
    EXPECT_EQ(emptyCopy.Capacity(), 16u);
}

TEST(ByteString, WithoutStorageIsEmptyAndGrowsLikeAnyOther) {
    ByteString s = ByteString::WithoutStorage();
    EXPECT_EQ(s.Capacity(), 0u);
    EXPECT_TRUE(s.Equals(""));
    s.Clear();
    ByteString copy(s);
    EXPECT_EQ(copy.Capacity(), 16u) << "a copy follows the capacity rule";
    s.PushChar('a');
    EXPECT_EQ(s.Capacity(), 16u);
    EXPECT_TRUE(s.Equals("a"));
    ByteString appended = ByteString::WithoutStorage();
    appended.AppendBytes("0123456789abcdefg", 17);
    EXPECT_EQ(appended.Capacity(), 32u);
}

TEST(ByteString, PushedNulCountsButEndsText) {
    ByteString s;
    s.Append("ab");
    s.PushChar('\0');
    s.PushChar('c');
    EXPECT_EQ(s.Length(), 4u);
    EXPECT_STREQ(s.Text(), "ab");
    EXPECT_EQ(s.CharAt(3), 'c');
    EXPECT_EQ(s.CharAt(4), '\0');
    EXPECT_EQ(s.CharAt(1000), '\0');
    s.Append("");
    EXPECT_EQ(s.Length(), 4u);
}

TEST(ByteString, CopyRangeAndEquals) {
    ByteString s, t;
    s.Assign("abcdef");
    t.Assign("junk");
    s.CopyRange(t, 3, 0);
    EXPECT_TRUE(t.Equals("def"));
    s.CopyRange(t, 6, 0);
    EXPECT_TRUE(t.Equals(""));
    s.CopyRange(t, 1, 3);
    EXPECT_TRUE(t.Equals("bc"));

    ByteString b;
    b.Assign("boundary");
    EXPECT_FALSE(b.Equals("Boundary"));
    EXPECT_FALSE(b.Equals("boundary2"));
    EXPECT_FALSE(b.Equals("bound"));
    EXPECT_TRUE(ByteString().Equals(ByteString()));
    EXPECT_TRUE(ByteString().Equals(""));
}

TEST(ByteString, AssignFromItselfAndOther) {
    ByteString s, t;
    s.Assign("hello");
    s.Assign(s);
    EXPECT_TRUE(s.Equals("hello"));
    t = s;
    EXPECT_TRUE(t.Equals("hello"));
    s.Assign(s.Text() + 2);  // aliasing tail of own text
    EXPECT_TRUE(s.Equals("llo"));
    EXPECT_EQ(s.Length(), 3u);
}

TEST(ByteString, MovedFromStringStaysUsable) {
    ByteString s;
    s.Assign("a text longer than sixteen");
    const char* array = s.Text();
    ByteString t(std::move(s));
    EXPECT_EQ(t.Text(), array);  // the array moved, not copied
    EXPECT_EQ(t.Capacity(), 32u);
    EXPECT_EQ(s.Length(), 0u);
    EXPECT_STREQ(s.Text(), "");
    s.Clear();
    s.PushChar('x');
    EXPECT_TRUE(s.Equals("x"));
    EXPECT_EQ(s.Capacity(), 16u);

    ByteString u(std::move(t)), v(std::move(t));
    v.Assign("");
    EXPECT_EQ(v.Capacity(), 16u);
    ByteString w(std::move(u));
    u.AppendBytes("abc", 3);
    EXPECT_TRUE(u.Equals("abc"));
    u = std::move(w);
    EXPECT_TRUE(u.Equals("a text longer than sixteen"));
    EXPECT_TRUE(w.Equals("abc"));  // move assignment swaps
}

TEST(ByteString, NullTextAndSelfReferences) {
    ByteString s;
    s.Assign("abc");
    s.Append(nullptr);
    EXPECT_TRUE(s.Equals("abc"));
    EXPECT_FALSE(s.Equals(nullptr));
    s.Assign(nullptr);
    EXPECT_EQ(s.Length(), 0u);
    EXPECT_TRUE(s.Equals(nullptr));

    // Assigning the string's own text recounts it up to its first NUL.
    s.Assign("ab");
    s.PushChar('\0');
    s.PushChar('c');
    s.Assign(s.Text());
    EXPECT_EQ(s.Length(), 2u);

    // Appending the string to itself across a growth.
    s.Assign("0123456789");
    s.AppendBytes(s.Text(), s.Length());
    EXPECT_TRUE(s.Equals("01234567890123456789"));
    EXPECT_EQ(s.Capacity(), 32u);

    s.Assign("abcdef");
    s.CopyRange(s, 2, 5);
    EXPECT_TRUE(s.Equals("cde"));
    EXPECT_EQ(s.Length(), 3u);
    s.CopyRange(s, 0, 0);
    EXPECT_TRUE(s.Equals("cde"));

    // An end beyond the length is cut to it.
    ByteString t;
    s.Assign("xyz");
    s.CopyRange(t, 1, 100);
    EXPECT_TRUE(t.Equals("yz"));
}

TEST(ByteString, CopyKeepsBytesAfterAnEmbeddedNul) {
    ByteString s;
    s.Append("ab");
    s.PushChar('\0');
    s.Append("cd");
    ByteString copy(s);
    EXPECT_EQ(copy.Length(), 5u);
    EXPECT_STREQ(copy.Text(), "ab");
    EXPECT_EQ(copy.CharAt(4), 'd');
}

// Every way of changing a viewing string leaves the viewed bytes as they
// were and gives the string the text it would have had as a copy.
TEST(ByteString, AViewIsReadButNeverWritten) {
    const std::string original = std::string("0123456789abcdefghijklmnopqrstuvwxyz0123") + '\0';
    struct Row {
        uint32_t length;
        void (*change)(ByteString&);
        const char* expected;
    };
    const Row rows[] = {
        {15, [](ByteString& s) { s.PushChar('!'); }, "0123456789abcde!"},
        {16, [](ByteString& s) { s.PushChar('!'); }, "0123456789abcdef!"},
        {40, [](ByteString& s) { s.PushChar('!'); }, "0123456789abcdefghijklmnopqrstuvwxyz0123!"},
        {3, [](ByteString& s) { s.AppendBytes("xy", 2); }, "012xy"},
        {10, [](ByteString& s) { s.Append(s.Text() + 8); }, "012345678989"},
        {10, [](ByteString& s) { s.Assign(s.Text() + 4); }, "456789"},
        {10, [](ByteString& s) { s.Assign("new"); }, "new"},
        {10, [](ByteString& s) { s.Clear(); }, ""},
        {10, [](ByteString& s) { s.CopyRange(s, 2, 5); }, "234"},
        {10, [](ByteString& s) { s = ByteString(s); }, "0123456789"},
    };
    for (const Row& row : rows) {
        std::string viewed = original;
        viewed[row.length] = '\0';
        const std::string before = viewed;
        ByteString s = ByteString::Viewing(viewed.data(), row.length);
        EXPECT_EQ(s.Capacity(), 0u);
        EXPECT_EQ(s.Text(), viewed.data());
        row.change(s);
        EXPECT_STREQ(s.Text(), row.expected) << row.expected;
        EXPECT_EQ(s.Length(), std::strlen(row.expected));
        EXPECT_EQ(viewed, before) << row.expected;
        if (s.Length() != 0) {
            EXPECT_NE(s.Text(), viewed.data()) << "a changed view has a text of its own";
        }
    }
}

// Kept texts stay whole across blocks and rewinds; a rewind gives back only
// what was kept after its mark.
TEST(TextArena, KeepsTextsUntilRewoundPastThem) {
    TextArena arena;
    auto text = [](uint32_t i) {
        std::string t = "field" + std::to_string(i) + std::string(i % 50, 'x');
        t += '\0';  // a NUL inside the text is kept with it
        return t + "end";
    };
    auto same = [](const ByteString& kept, const std::string& t) {
        return kept.Length() == t.size() && std::memcmp(kept.Text(), t.data(), t.size() + 1) == 0;
    };
    auto keep = [&](uint32_t i) {
        ByteString source;
        const std::string t = text(i);
        source.AppendBytes(t.data(), static_cast<uint32_t>(t.size()));
        return arena.Keep(source);
    };
    std::vector<ByteString> kept;
    for (uint32_t i = 0; i < 3000; ++i) kept.push_back(keep(i));  // about three blocks
    const TextArena::Mark mark = arena.Position();
    std::vector<ByteString> later;
    for (uint32_t i = 0; i < 3000; ++i) later.push_back(keep(i));
    later.clear();
    arena.RewindTo(mark);
    for (uint32_t i = 0; i < 3000; ++i) kept.push_back(keep(i));
    for (uint32_t i = 0; i < kept.size(); ++i) {
        ASSERT_TRUE(same(kept[i], text(i % 3000))) << i;
        EXPECT_EQ(kept[i].Capacity(), 0u);
    }

    ByteString empty, longText;
    longText.AppendBytes(std::string(TextArena::kLongestKept + 1, 'L').data(), TextArena::kLongestKept + 1);
    EXPECT_EQ(arena.Keep(empty).Capacity(), 0u);
    const ByteString longKept = arena.Keep(longText);
    EXPECT_NE(longKept.Capacity(), 0u) << "a long text has storage of its own";
    EXPECT_TRUE(longKept.Equals(longText));
}
