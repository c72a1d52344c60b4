#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "support/ByteString.h"
#include "tests/LiteralTokens.h"
#include "parse/TokenSplitter.h"

using namespace qor;

namespace {

ByteString Bytes(const std::string& s) {
    ByteString b;
    b.AppendBytes(s.data(), static_cast<uint32_t>(s.size()));
    return b;
}

std::string Str(const ByteString& b) { return std::string(b.Text(), b.Length()); }

uint32_t Count(const std::string& text, const char* delims, const char* blanks = TokenSplitter::kDefaultBlanks) {
    ByteString target = Bytes(text);
    return TokenSplitter(target, delims, blanks).TokenCount(0);
}

std::string TokenOf(const std::string& text, uint32_t n, const char* delims,
                    const char* blanks = TokenSplitter::kDefaultBlanks) {
    ByteString target = Bytes(text), out;
    out.Assign("stale");
    TokenSplitter(target, delims, blanks).Token(out, n, 0);
    return Str(out);
}

}  // namespace

TEST(TokenSplitter, CountsTokensAsDelimitersOpenThem) {
    EXPECT_EQ(Count("a&b", "&"), 2u);
    EXPECT_EQ(Count("a&&b", "&"), 3u);
    EXPECT_EQ(TokenOf("a&&b", 1, "&"), "");
    EXPECT_EQ(TokenOf("a&&b", 2, "&"), "b");
    EXPECT_EQ(Count("&a", "&"), 2u);
    EXPECT_EQ(TokenOf("&a", 0, "&"), "");
    EXPECT_EQ(Count("a&", "&"), 1u);
    EXPECT_EQ(Count("a& ,\t", "&"), 1u);
    EXPECT_EQ(Count("a& ,&", "&"), 2u);  // blanks between delimiters: an empty token
    EXPECT_EQ(Count("", "&"), 0u);
    EXPECT_EQ(Count(" , ,, ", "&"), 0u);
    EXPECT_EQ(Count("&", "&"), 1u);
    EXPECT_EQ(Count("&&", "&"), 2u);
    // Nothing after the first NUL takes part.
    EXPECT_EQ(Count(std::string("a&b\0&c&d", 8), "&"), 2u);
    EXPECT_EQ(TokenOf(std::string("a&b\0&c", 6), 2, "&"), "");
}

TEST(TokenSplitter, TokenKeepsInnerAndTrailingBlanks) {
    EXPECT_EQ(TokenOf("text/plain  ; x=1", 0, ";"), "text/plain  ");
    EXPECT_EQ(TokenOf("text/plain  ; x=1", 1, ";"), "x=1");
    EXPECT_EQ(TokenOf("a;b", 5, ";"), "");
    EXPECT_EQ(TokenOf("a; , \tb c ;d", 1, ";"), "b c ");
    EXPECT_EQ(TokenOf(" \"name\"=\"v a\"", 0, "=", " \t\""), "name\"");
    EXPECT_EQ(TokenOf(" \"name\"=\"v a\"", 1, "=", " \t\""), "v a\"");

    // The returned index is where copying stopped; a start index begins later.
    ByteString target = Bytes("ab;cd;ef"), out;
    TokenSplitter split(target, ";");
    EXPECT_EQ(split.Token(out, 1, 0), 5u);
    EXPECT_EQ(Str(out), "cd");
    EXPECT_EQ(split.Token(out, 0, 6), 8u);
    EXPECT_EQ(Str(out), "ef");
    EXPECT_EQ(split.Token(out, 0, 100), 8u);  // a start beyond the text is its end
    EXPECT_EQ(Str(out), "");
    EXPECT_EQ(split.TokenCount(3), 2u);

    TokenSplitter unaimed;
    out.Assign("x");
    EXPECT_EQ(unaimed.Token(out, 0, 0), 0u);
    EXPECT_EQ(Str(out), "");
    EXPECT_EQ(unaimed.TokenCount(0), 0u);
}

TEST(TokenSplitter, TrimsBothEndsAndUpperCasesAsciiOnly) {
    ByteString s = Bytes(" \t,a b, \t");
    TokenSplitter split(s, ";");
    split.TrimLeft();
    split.TrimRight();
    EXPECT_EQ(Str(s), "a b");
    EXPECT_EQ(s.Length(), 3u);

    s = Bytes(" ,\t ,");
    split.TrimLeft();
    split.TrimRight();
    EXPECT_EQ(s.Length(), 0u);
    EXPECT_STREQ(s.Text(), "");

    // Trimming sees the text up to its first NUL, and the length follows.
    s = Bytes(std::string(" ab \0cd", 7));
    split.TrimLeft();
    split.TrimRight();
    EXPECT_EQ(Str(s), "ab");

    TokenSplitter pair(s, "=", " \r\n\t");  // the blanks of a URL-encoded pair
    s = Bytes("\r\n,x,\n");
    pair.TrimLeft();
    pair.TrimRight();
    EXPECT_EQ(Str(s), ",x,");

    s = Bytes("Content-disposition: az@[`{\xe4\xff");
    split.ToUpper();
    EXPECT_EQ(Str(s), "CONTENT-DISPOSITION: AZ@[`{\xe4\xff");
}

TEST(TokenSplitter, MatchesTheLiteralAlgorithmIncludingOnePassContinuation) {
    // Random texts over the characters that matter to the parser's splits.
    const std::string alphabet = "ab&=;,% \t\r\n\"+";
    const struct {
        const char* delims;
        const char* blanks;
    } uses[] = {{"&", " \t,"}, {"=", " \r\n\t"}, {";", " \t,"}, {"=", " \t\""}, {":", " \t,"},
                {"&,", " ,"}};  // the last overlaps: no use does, but counting must still hold
    std::mt19937 gen(20240601);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const int length = static_cast<int>(gen() % 40);
        for (int i = 0; i < length; ++i) text.push_back(alphabet[gen() % alphabet.size()]);
        if (gen() % 8 == 0 && !text.empty()) text[gen() % text.size()] = '\0';
        const auto& use = uses[round % 6];
        const bool overlap = std::strpbrk(use.delims, use.blanks) != nullptr;

        ByteString target = Bytes(text), out;
        TokenSplitter split(target, use.delims, use.blanks);
        const unsigned count = literal::TokenCount(text, use.delims, use.blanks, 0);
        ASSERT_EQ(split.TokenCount(0), count) << text;

        uint32_t next = 0;
        for (unsigned n = 0; n < count + 2; ++n) {
            unsigned stop = 0;
            const std::string expected = literal::Token(text, use.delims, use.blanks, n, 0, &stop);
            ASSERT_EQ(split.Token(out, n, 0), stop) << text << " token " << n;
            ASSERT_EQ(Str(out), expected) << text << " token " << n;
            if (n < count && !overlap) {
                // With disjoint sets, continuing from the previous stop gives
                // the same token.
                const uint32_t s = split.Token(out, 0, next);
                ASSERT_EQ(Str(out), expected) << text << " continued token " << n;
                next = target.Text()[s] != 0 ? s + 1 : s;
            }
        }
        for (unsigned start = 0; start <= text.size(); ++start) {
            const char* t = text.c_str();
            if (std::strlen(t) < start) break;
            ASSERT_EQ(split.TokenCount(start), literal::TokenCount(text, use.delims, use.blanks, start));
            ASSERT_EQ(split.Token(out, 1, start), [&] {
                unsigned stop = 0;
                literal::Token(text, use.delims, use.blanks, 1, start, &stop);
                return stop;
            }());
        }

        split.TrimLeft();
        split.TrimRight();
        ASSERT_EQ(Str(target), literal::Trim(text, use.blanks)) << text;
    }
}
