#include <gtest/gtest.h>

#include "ParserHarness.h"

namespace {

enum class Chosen { Nothing, UrlEncoded, Multipart };

// Which parse a content type selects, and the multipart delimiter it leaves.
struct Dispatch {
    Chosen chosen;
    std::string delimiter;
};

// A body that yields a field when read as URL-encoded. Read as multipart it
// yields nothing (it does not start with the delimiter line), but the parser
// records the body it was given.
Dispatch Dispatched(const std::string& contentType) {
    PostDataParser parser;
    parser.delimiter.Assign("unset");
    ByteBuffer buffer(ByteStream::kSynchronised, 1024);
    for (char c : std::string("x=1")) buffer.PutByte(static_cast<unsigned char>(c));
    parser.contentType.Assign(contentType.c_str());
    parser.Parse(buffer);
    Chosen chosen = Chosen::Nothing;
    if (parser.fields.Count() != 0)
        chosen = Chosen::UrlEncoded;
    else if (parser.body == &static_cast<InputBuffer&>(buffer))
        chosen = Chosen::Multipart;
    return {chosen, Str(parser.delimiter)};
}

}  // namespace

TEST(ContentType, UrlEncodedOnlyWhenExactAfterTrimming) {
    EXPECT_EQ(Dispatched("application/x-www-form-urlencoded").chosen, Chosen::UrlEncoded);
    EXPECT_EQ(Dispatched(" \t,application/x-www-form-urlencoded, \t").chosen, Chosen::UrlEncoded);
    EXPECT_EQ(Dispatched("application/x-www-form-urlencoded; charset=UTF-8").chosen, Chosen::Nothing);
    EXPECT_EQ(Dispatched("application/x-www-form-urlencoded;").chosen, Chosen::Nothing);
    EXPECT_EQ(Dispatched("Application/x-www-form-urlencoded").chosen, Chosen::Nothing);
    EXPECT_EQ(Dispatched("\"application/x-www-form-urlencoded\"").chosen, Chosen::Nothing);
    EXPECT_EQ(Dispatched("").chosen, Chosen::Nothing);
    EXPECT_EQ(Dispatched("text/plain").chosen, Chosen::Nothing);
}

TEST(ContentType, MultipartNeedsBoundaryAsFirstParameter) {
    const Dispatch plain = Dispatched("multipart/form-data; boundary=abc");
    EXPECT_EQ(plain.chosen, Chosen::Multipart);
    EXPECT_EQ(plain.delimiter, "--abc");

    for (const char* type : {"Multipart/form-data; boundary=abc", "multipart/form-data; Boundary=abc",
                             "multipart/form-data; charset=utf-8; boundary=abc", "multipart/form-data",
                             "multipart/form-data;", "multipart/mixed; boundary=abc",
                             "multipart/form-data; boundaryx=abc"}) {
        const Dispatch d = Dispatched(type);
        EXPECT_EQ(d.chosen, Chosen::Nothing) << type;
        EXPECT_EQ(d.delimiter, "unset") << type;
    }
}

TEST(ContentType, BoundaryLosesBlanksAndQuotesAndStopsAtSeparators) {
    const struct {
        const char* type;
        const char* delimiter;
    } cases[] = {
        {"multipart/form-data; boundary = abc", "--abc"},
        {"multipart/form-data ; boundary= \"abc\" ", "--abc"},
        {"multipart/form-data;boundary=\"abc\"", "--abc"},
        {"\"multipart/form-data\"; boundary=abc", "--abc"},
        {"\tmultipart/form-data;\tboundary=abc,", "--abc"},
        {"multipart/form-data; boundary=abc; charset=utf-8", "--abc"},
        {"multipart/form-data; boundary=ab=cd", "--ab"},
        {"multipart/form-data; boundary=\"a;b\"", "--a"},
        {"multipart/form-data; boundary=\"a=b\"", "--a"},
        {"multipart/form-data; boundary=", "--"},
        {"multipart/form-data; boundary", "--"},
        {"multipart/form-data; boundary=----WebKitFormBoundary7MA4YWxkTrZu0gW",
         "------WebKitFormBoundary7MA4YWxkTrZu0gW"},
        // Inner blanks stay: only the ends are trimmed.
        {"multipart/form-data; boundary=\"a b\"", "--a b"},
    };
    for (const auto& c : cases) {
        const Dispatch d = Dispatched(c.type);
        EXPECT_EQ(d.chosen, Chosen::Multipart) << c.type;
        EXPECT_EQ(d.delimiter, c.delimiter) << c.type;
    }
}

TEST(ContentType, UnrecognisedTypeKeepsEarlierResultsAndDelimiter) {
    PostDataParser parser;
    ParseBody(parser, "multipart/form-data; boundary=first", "");
    ParseBody(parser, "application/x-www-form-urlencoded", "a=1");
    ParseBody(parser, "text/plain", "b=2");
    ParseBody(parser, "multipart/form-data; Boundary=second", "");
    EXPECT_EQ(Str(parser.delimiter), "--first");
    EXPECT_EQ(Fields(parser), (FieldsView{{"a", {"1"}}}));
    EXPECT_EQ(Str(parser.contentType), "multipart/form-data; Boundary=second");  // the owner's text, untouched
}
