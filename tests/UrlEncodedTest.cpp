#include <gtest/gtest.h>

#include <random>

#include "support/MemoryInput.h"
#include "tests/ParserHarness.h"
#include "tests/ReferenceUrlEncoded.h"

namespace {

const char* const kUrlEncoded = "application/x-www-form-urlencoded";

FieldsView ParseForm(const std::string& body) {
    PostDataParser parser;
    ParseBody(parser, kUrlEncoded, body);
    return Fields(parser);
}

std::string FormTextOf(const std::string& body) {
    PostDataParser parser;
    ParseBody(parser, kUrlEncoded, body);
    return Str(parser.FormText());
}

}  // namespace

TEST(UrlEncoded, RepeatedNamesMergeInOrderOfFirstAppearance) {
    EXPECT_EQ(ParseForm("a=1&b=2&a=3"), (FieldsView{{"a", {"1", "3"}}, {"b", {"2"}}}));
    EXPECT_EQ(FormTextOf("a=1&b=2&a=3"), "a=1,3;b=2");
    EXPECT_EQ(ParseForm("A=1&a=2"), (FieldsView{{"A", {"1"}}, {"a", {"2"}}}));
    EXPECT_EQ(ParseForm(""), FieldsView{});
    EXPECT_EQ(FormTextOf(""), "");
}

TEST(UrlEncoded, EmptyPairsAndMissingSeparators) {
    EXPECT_EQ(ParseForm("x"), (FieldsView{{"x", {""}}}));
    EXPECT_EQ(ParseForm("=v"), (FieldsView{{"", {"v"}}}));
    EXPECT_EQ(ParseForm("a=1&&b=2"), (FieldsView{{"a", {"1"}}, {"", {""}}, {"b", {"2"}}}));
    EXPECT_EQ(ParseForm("&a=1"), (FieldsView{{"", {""}}, {"a", {"1"}}}));
    EXPECT_EQ(FormTextOf("&a=1&&"), "=,;a=1");
    EXPECT_EQ(ParseForm("a=1&"), (FieldsView{{"a", {"1"}}}));
    EXPECT_EQ(ParseForm("a=1& , "), (FieldsView{{"a", {"1"}}}));
    EXPECT_EQ(ParseForm("a=1=2"), (FieldsView{{"a", {"1"}}}));  // only up to the second "="
    EXPECT_EQ(ParseForm("a==2"), (FieldsView{{"a", {""}}}));
}

TEST(UrlEncoded, BlanksAroundPairsNamesAndValues) {
    EXPECT_EQ(ParseForm(" ,\ta=1&, b=2"), (FieldsView{{"a", {"1"}}, {"b", {"2"}}}));
    EXPECT_EQ(ParseForm("a=1,2, 3"), (FieldsView{{"a", {"1,2, 3"}}}));
    EXPECT_EQ(ParseForm("a=+x+y+"), (FieldsView{{"a", {"x y"}}}));
    EXPECT_EQ(ParseForm("a=%20x%0D%0A%09"), (FieldsView{{"a", {"x"}}}));
    EXPECT_EQ(ParseForm("a=+++"), (FieldsView{{"a", {""}}}));
    EXPECT_EQ(ParseForm("a=1&b=2\r\n"), (FieldsView{{"a", {"1"}}, {"b", {"2"}}}));
    EXPECT_EQ(ParseForm("+a%20=%09v"), (FieldsView{{"a", {"v"}}}));
    EXPECT_EQ(ParseForm("a = 1 "), (FieldsView{{"a", {"1"}}}));
    // A comma is no blank of the pair: it stays at the value's end.
    EXPECT_EQ(ParseForm("a=1,"), (FieldsView{{"a", {"1,"}}}));
}

TEST(UrlEncoded, EscapesDecodeOnlyAsTwoHexDigits) {
    EXPECT_EQ(ParseForm("a=%41%4a%4A"), (FieldsView{{"a", {"AJJ"}}}));
    EXPECT_EQ(ParseForm("a=%2B+"), (FieldsView{{"a", {"+"}}}));
    EXPECT_EQ(ParseForm("a=%00b"), (FieldsView{{"a", {"%00b"}}}));
    EXPECT_EQ(ParseForm("a=%4"), (FieldsView{{"a", {"%4"}}}));
    EXPECT_EQ(ParseForm("a=%"), (FieldsView{{"a", {"%"}}}));
    EXPECT_EQ(ParseForm("a=x%&b=1"), (FieldsView{{"a", {"x%"}}, {"b", {"1"}}}));
    EXPECT_EQ(ParseForm("a=%zz%4g%g4"), (FieldsView{{"a", {"%zz%4g%g4"}}}));
    EXPECT_EQ(ParseForm("a=%%41"), (FieldsView{{"a", {"%A"}}}));
    EXPECT_EQ(ParseForm("a=%2541"), (FieldsView{{"a", {"%41"}}}));  // decoded once
    EXPECT_EQ(ParseForm("a=%ff%E4"), (FieldsView{{"a", {"\xff\xe4"}}}));
    // Escaped separators never split.
    EXPECT_EQ(ParseForm("a%26b=c%3Dd%26e"), (FieldsView{{"a&b", {"c=d&e"}}}));
}

TEST(UrlEncoded, BodyEndsAtItsFirstNulByte) {
    EXPECT_EQ(ParseForm(std::string("a=1\0&b=2", 8)), (FieldsView{{"a", {"1"}}}));
    EXPECT_EQ(ParseForm(std::string("\0a=1", 4)), FieldsView{});
}

TEST(UrlEncoded, LaterBodiesMergeIntoEarlierFields) {
    PostDataParser parser;
    ParseBody(parser, kUrlEncoded, "a=1&b=2");
    ParseBody(parser, kUrlEncoded, "b=3&c=4&a=5");
    EXPECT_EQ(Fields(parser), (FieldsView{{"a", {"1", "5"}}, {"b", {"2", "3"}}, {"c", {"4"}}}));
    EXPECT_EQ(Str(parser.FormText()), "a=1,5;b=2,3;c=4");
}

TEST(UrlEncoded, LargeBodiesAcrossBufferAndPageBoundaries) {
    std::string body;
    FieldsView expected;
    for (int i = 0; i < 3000; ++i) {
        const std::string name = "f" + std::to_string(i % 1000);
        const std::string value = "v%41" + std::to_string(i);
        body += (i ? "&" : "") + name + "=" + value;
        if (i < 1000) expected.push_back({name, {}});
        expected[i % 1000].second.push_back("vA" + std::to_string(i));
    }
    ASSERT_GT(body.size(), 3u * 4096);
    EXPECT_EQ(ParseForm(body), expected);
}

TEST(UrlEncoded, MatchesTheLiteralParseOnRandomBodies) {
    const std::string alphabet = "ab&&==%%+ ,\t\r\n04Af";
    std::mt19937 gen(77);
    for (int round = 0; round < 2000; ++round) {
        std::string body;
        const int length = static_cast<int>(gen() % 60);
        for (int i = 0; i < length; ++i) body.push_back(alphabet[gen() % alphabet.size()]);
        if (gen() % 10 == 0 && !body.empty()) body[gen() % body.size()] = '\0';
        ASSERT_EQ(ParseForm(body), LiteralParse(body)) << body;
    }
}

// Pairs gathered as the body arrives must not depend on where the reader's
// runs end: long random bodies whose pairs straddle get-buffer and page
// boundaries, read with several buffer sizes (0 reads byte by byte), give
// what the literal parse of the whole text gives.
TEST(UrlEncoded, PairsAcrossReadRunsMatchTheLiteralParse) {
    const std::string alphabet = "abcab&&==%%+ ,\t\r\n04Af";
    std::mt19937 gen(4242);
    for (const uint32_t bufferSize : {0u, 1u, 7u, 1024u, 4096u}) {
        for (int round = 0; round < 30; ++round) {
            std::string body;
            const int length = 1000 + static_cast<int>(gen() % 9000);
            for (int i = 0; i < length; ++i) body.push_back(alphabet[gen() % alphabet.size()]);
            if (round % 4 == 0) body[gen() % body.size()] = '\0';
            if (round % 5 == 0) body += (round % 2) ? "& ,\t" : " , ";  // blank last pair
            PostDataParser parser;
            ByteBuffer buffer(ByteStream::kSynchronised, bufferSize);
            buffer.PutBytes(reinterpret_cast<const unsigned char*>(body.data()), static_cast<uint32_t>(body.size()));
            parser.Parse(kUrlEncoded, buffer);
            ASSERT_EQ(Fields(parser), LiteralParse(body)) << "buffer " << bufferSize << " round " << round;
            // The whole body was read, also past a NUL.
            EXPECT_FALSE(buffer.Good());
        }
    }
}

// Names and values with an escape (whole, cut short by the pair's end, or
// none) at every offset give the literal parse, read in place (each pair
// decoded straight from the body) and in runs of seven bytes (pairs cut by
// the runs' ends).
TEST(UrlEncoded, EscapesAtEveryOffsetOfLongNamesAndValues) {
    const std::string plain = "abcdefghijklmnopqrstuvwx";
    std::string body;
    for (const std::string escape : {"%41", "+", "%4", "%", "%00", "%zz", "%2b%2B", "%20"}) {
        for (size_t at = 0; at <= plain.size(); ++at) {
            const std::string text = plain.substr(0, at) + escape + plain.substr(at);
            body += text + "=" + text + "&" + plain.substr(0, at) + "=" + plain.substr(at) + escape + "&";
        }
    }
    const FieldsView expected = LiteralParse(body);
    ASSERT_GT(expected.size(), 150u);
    {
        PostDataParser parser;
        MemoryInput input(reinterpret_cast<const unsigned char*>(body.data()), static_cast<uint32_t>(body.size()));
        parser.Parse(kUrlEncoded, input);
        EXPECT_EQ(Fields(parser), expected) << "in place";
    }
    PostDataParser parser;
    ByteBuffer buffer(ByteStream::kSynchronised, 7);
    buffer.PutBytes(reinterpret_cast<const unsigned char*>(body.data()), static_cast<uint32_t>(body.size()));
    parser.Parse(kUrlEncoded, buffer);
    EXPECT_EQ(Fields(parser), expected) << "runs of seven";
}
