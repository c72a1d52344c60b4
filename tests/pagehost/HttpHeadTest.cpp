#include "hosts/pagehost/HttpHead.h"

#include <gtest/gtest.h>

using namespace pagehost;

TEST(HttpHead, FindsTheEndOfTheHeadOnlyAtTheBlankLine) {
    EXPECT_EQ(FindHeadEnd(""), 0u);
    EXPECT_EQ(FindHeadEnd("GET / HTTP/1.1\r\nHost: x\r\n"), 0u);
    EXPECT_EQ(FindHeadEnd("GET / HTTP/1.1\r\nHost: x\r\n\r"), 0u);
    const std::string request = "GET / HTTP/1.1\r\nHost: x\r\n\r\nbody\r\n\r\n";
    EXPECT_EQ(FindHeadEnd(request), request.find("body"));
}

TEST(HttpHead, ParsesRequestLineQueryAndFields) {
    HttpRequestHead head;
    ASSERT_TRUE(ParseRequestHead("POST /a%20b/page.asp?x=1&y=?2 HTTP/1.1\r\n"
                                 "Host: 127.0.0.1:8080\r\n"
                                 "content-type:  multipart/form-data; boundary=z \t\r\n"
                                 "X-Twice: first\r\n"
                                 "X-Twice: second\r\n"
                                 "Empty:\r\n\r\n",
                                 head));
    EXPECT_EQ(head.method, "POST");
    EXPECT_EQ(head.target, "/a%20b/page.asp?x=1&y=?2");
    EXPECT_EQ(head.path, "/a%20b/page.asp");
    EXPECT_EQ(head.query, "x=1&y=?2");
    EXPECT_EQ(head.version, "HTTP/1.1");
    ASSERT_NE(head.Header("Content-Type"), nullptr);
    EXPECT_EQ(*head.Header("CONTENT-TYPE"), "multipart/form-data; boundary=z");
    EXPECT_EQ(*head.Header("x-twice"), "first");
    ASSERT_NE(head.Header("Empty"), nullptr);
    EXPECT_EQ(*head.Header("Empty"), "");
    EXPECT_EQ(head.Header("Content-Length"), nullptr);
    EXPECT_EQ(head.headers.size(), 5u);

    ASSERT_TRUE(ParseRequestHead("GET / HTTP/1.0\r\n\r\n", head));
    EXPECT_EQ(head.query, "");
    EXPECT_TRUE(head.headers.empty());
}

TEST(HttpHead, RefusesMalformedHeads) {
    HttpRequestHead head;
    for (const char* bad : {
             "GET /\r\n\r\n",                         // no version
             "GET  / HTTP/1.1\r\n\r\n",               // two blanks
             "GET / HTTP/1.1 extra\r\n\r\n",          // a fourth word
             "GET x HTTP/1.1\r\n\r\n",                // not an origin path
             "GET / HTTP/2.0\r\n\r\n",                // a version we do not speak
             "G(T / HTTP/1.1\r\n\r\n",                // not a method token
             "GET / HTTP/1.1\r\nNoColon\r\n\r\n",     // a field without a colon
             "GET / HTTP/1.1\r\n: value\r\n\r\n",     // an empty field name
             "GET / HTTP/1.1\r\nBad Name: v\r\n\r\n", // a blank in the name
             "GET / HTTP/1.1\r\nHost: x",             // no line end
         }) {
        EXPECT_FALSE(ParseRequestHead(bad, head)) << bad;
    }
}

TEST(HttpHead, ContentLengthIsDigitsOnlyWithoutOverflow) {
    EXPECT_EQ(ParseContentLength("0"), 0u);
    EXPECT_EQ(ParseContentLength("104857600"), 104857600u);
    EXPECT_EQ(ParseContentLength("9999999999999999999"), 9999999999999999999ull);
    for (const char* bad : {"", "-1", "+5", "1 2", " 1", "0x10", "12a", "18446744073709551616", "99999999999999999999"})
        EXPECT_FALSE(ParseContentLength(bad).has_value()) << bad;
}

TEST(HttpHead, PercentDecodingAndMalformedEscapes) {
    EXPECT_EQ(PercentDecode("a%20b%2fc%C3%A9"), "a b/c\xC3\xA9");
    EXPECT_EQ(PercentDecode("a+b"), "a+b");
    EXPECT_EQ(PercentDecode("a+b", true), "a b");
    EXPECT_EQ(PercentDecode("%00"), std::string(1, '\0'));
    EXPECT_FALSE(PercentDecode("%").has_value());
    EXPECT_FALSE(PercentDecode("ab%4").has_value());
    EXPECT_FALSE(PercentDecode("%zz").has_value());
    EXPECT_FALSE(PercentDecode("%4g").has_value());
}

TEST(HttpHead, SitePathsNeverLeaveTheSite) {
    EXPECT_EQ(SiteRelativePath("/"), "");
    EXPECT_EQ(SiteRelativePath("/upload.asp"), "upload.asp");
    EXPECT_EQ(SiteRelativePath("/a//b/./c.txt"), "a/b/c.txt");
    EXPECT_EQ(SiteRelativePath("/dir/"), "dir");
    EXPECT_EQ(SiteRelativePath("/r%C3%A9sum%C3%A9.txt"), "r\xC3\xA9sum\xC3\xA9.txt");
    EXPECT_EQ(SiteRelativePath("/a..b/..c"), "a..b/..c");
    for (const char* bad : {"", "relative", "/..", "/a/../../b", "/a/..", "/%2e%2e/x", "/%2E%2E",
                            "/a%5c..%5cb", "/a\\b", "/c:x", "/C%3a/x", "/a%00b", "/%zz"})
        EXPECT_FALSE(SiteRelativePath(bad).has_value()) << bad;
}

TEST(HttpHead, QueryPairsInOrderDecoded) {
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(ParseQuery(""), Pairs{});
    EXPECT_EQ(ParseQuery("a=1&b=&c&a=x+y%26z"),
              (Pairs{{"a", "1"}, {"b", ""}, {"c", ""}, {"a", "x y&z"}}));
    EXPECT_EQ(ParseQuery("&&k=v=w&"), (Pairs{{"k", "v=w"}}));
    EXPECT_EQ(ParseQuery("bad=%zz&ok=%41"), (Pairs{{"bad", "%zz"}, {"ok", "A"}}));
}

TEST(HttpHead, StaticContentTypesByExtension) {
    EXPECT_EQ(ContentTypeForPath("style.css"), "text/css; charset=utf-8");
    EXPECT_EQ(ContentTypeForPath("dir/IMAGE.PNG"), "image/png");
    EXPECT_EQ(ContentTypeForPath("index.html"), "text/html; charset=utf-8");
    EXPECT_EQ(ContentTypeForPath("a.htm"), "text/html; charset=utf-8");
    EXPECT_EQ(ContentTypeForPath("dir.v1/README"), "application/octet-stream");
    EXPECT_EQ(ContentTypeForPath("archive.tar.gz"), "application/octet-stream");
    EXPECT_EQ(ContentTypeForPath(".js"), "text/javascript; charset=utf-8");
}

TEST(HttpHead, HtmlEscapeCoversMarkupAndQuotes) {
    EXPECT_EQ(HtmlEscape("<a href=\"x\">Tom & 'J'</a>"), "&lt;a href=&quot;x&quot;&gt;Tom &amp; &#39;J&#39;&lt;/a&gt;");
    EXPECT_EQ(HtmlEscape("caf\xC3\xA9"), "caf\xC3\xA9");
}
