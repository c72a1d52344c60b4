#include <gtest/gtest.h>

#include "tests/ParserHarness.h"

namespace {

enum class Chosen { Nothing, UrlEncoded, Multipart };

// Which parse a content type selects, and the multipart delimiter it leaves.
struct Dispatch {
    Chosen chosen;
    std::string delimiter;
};

// The delimiter the content type names, and the parse it selects, told by
// a body that yields a field only when read that way: x=1 when URL-encoded,
// m=v when multipart with that delimiter.
Dispatch Dispatched(const std::string& contentType) {
    ByteString named;
    named.Assign("unset");
    const bool multipart = PostDataParser::MultipartDelimiter(contentType.c_str(), named);
    const std::string delimiter = Str(named);
    PostDataParser parser;
    ParseBody(parser, contentType,
              multipart ? delimiter + "\r\nContent-Disposition: form-data; name=m\r\n\r\nv\r\n" + delimiter + "--"
                        : "x=1");
    Chosen chosen = Chosen::Nothing;
    if (Fields(parser) == FieldsView{{"x", {"1"}}}) chosen = Chosen::UrlEncoded;
    if (multipart && Fields(parser) == FieldsView{{"m", {"v"}}}) chosen = Chosen::Multipart;
    return {chosen, delimiter};
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

TEST(ContentType, UnrecognisedTypeKeepsEarlierResults) {
    PostDataParser parser;
    ParseBody(parser, "multipart/form-data; boundary=first", "");
    ParseBody(parser, "application/x-www-form-urlencoded", "a=1");
    ParseBody(parser, "text/plain", "b=2");
    ParseBody(parser, "multipart/form-data; Boundary=second", "");
    EXPECT_EQ(Fields(parser), (FieldsView{{"a", {"1"}}}));
}
