#include "hosts/pagehost/PageCompiler.h"

#include <gtest/gtest.h>

using namespace pagehost;

namespace {

std::vector<std::string> Lines(const std::string& script) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < script.size()) {
        const size_t end = script.find('\n', start);
        lines.push_back(script.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace

TEST(PageCompiler, LiteralTextBecomesOneWriteWithItsLineBreaksAndQuotes) {
    const CompiledPage page = CompilePage("<p class=\"x\">\r\nsecond\nthird\r");
    ASSERT_TRUE(page.error.empty());
    EXPECT_EQ(Lines(page.script), std::vector<std::string>{
        "Response.Write \"<p class=\"\"x\"\">\" & vbCrLf & \"second\" & vbLf & \"third\" & vbCr"});
    EXPECT_EQ(page.pageLines, std::vector<int>{1});
}

TEST(PageCompiler, StringExpressionsForEdgeTexts) {
    EXPECT_EQ(VbStringExpression(""), "\"\"");
    EXPECT_EQ(VbStringExpression("\""), "\"\"\"\"");
    EXPECT_EQ(VbStringExpression("\r\n\r\n"), "vbCrLf & vbCrLf");
    EXPECT_EQ(VbStringExpression(std::string("a\0b\x1f\tc", 6)), "\"a\" & Chr(0) & \"b\" & Chr(31) & \"\tc\"");
    EXPECT_EQ(VbStringExpression("\xC3\xA9"), "\"\xC3\xA9\"");
}

TEST(PageCompiler, CodeExpressionsAndTextKeepTheirPageLines) {
    const CompiledPage page = CompilePage(
        "<html>\n"                   // 1
        "<% Dim i\n"                 // 2
        "For i = 1 To 2 %>\n"        // 3
        "<p><%= i * 2 %></p>\n"      // 4
        "<% Next %>\n"               // 5
        "<%= \"a%\" & _\n\"b\" %>"); // 6-7
    ASSERT_TRUE(page.error.empty());
    const std::vector<std::string> expected = {
        "Response.Write \"<html>\" & vbLf",
        " Dim i",
        "For i = 1 To 2 ",
        "Response.Write vbLf & \"<p>\"",
        "Response.Write ( i * 2 )",
        "Response.Write \"</p>\" & vbLf",
        " Next ",
        "Response.Write vbLf",
        "Response.Write ( \"a%\" & _ \"b\" )",
    };
    EXPECT_EQ(Lines(page.script), expected);
    EXPECT_EQ(page.pageLines, (std::vector<int>{1, 2, 3, 3, 4, 4, 5, 5, 6}));
    EXPECT_EQ(page.PageLine(1), 2);
    EXPECT_EQ(page.PageLine(8), 6);
    EXPECT_EQ(page.PageLine(9), 0);  // past the script
}

TEST(PageCompiler, DirectivesAndLeadingBlankTextAllowOptionExplicitFirst) {
    const CompiledPage page = CompilePage("<%@ Language=\"VBScript\" %>\r\n<% Option Explicit %>\r\n<b>x</b>\r\n \r\n<% Dim a %>");
    ASSERT_TRUE(page.error.empty());
    const std::vector<std::string> expected = {
        " Option Explicit ",
        "Response.Write vbCrLf & \"<b>x</b>\" & vbCrLf & \" \" & vbCrLf",
        " Dim a ",
    };
    EXPECT_EQ(Lines(page.script), expected);
    EXPECT_EQ(page.pageLines, (std::vector<int>{2, 2, 5}));
}

TEST(PageCompiler, UnclosedBlockIsAnErrorAtItsLine) {
    const CompiledPage page = CompilePage("one\ntwo\n<% x = 1\n%\n");
    EXPECT_EQ(page.errorLine, 3);
    EXPECT_FALSE(page.error.empty());
    EXPECT_TRUE(page.script.empty());
    EXPECT_TRUE(page.pageLines.empty());
}

TEST(PageCompiler, EmptyPagesAndBlocks) {
    EXPECT_TRUE(CompilePage("").script.empty());
    EXPECT_TRUE(CompilePage("<%%>").error.empty());
    const CompiledPage page = CompilePage("a<%%>b");
    EXPECT_EQ(Lines(page.script), (std::vector<std::string>{"Response.Write \"a\"", "", "Response.Write \"b\""}));
    EXPECT_EQ(Lines(CompilePage("<%=%>").script), std::vector<std::string>{"Response.Write ()"});
}

namespace {

bool KnownCodePage(unsigned codePage) { return codePage == 65001 || codePage == 1252 || codePage == 932; }

struct DirectiveRow {
    const char* page;
    unsigned codePage;
    const char* error;  // a part of the error text; nullptr when the page compiles
    int errorLine;
};

}  // namespace

TEST(PageCompiler, CodePageDirectiveFormsAndFaults) {
    const DirectiveRow rows[] = {
        {"<%@ Language=\"VBScript\" CodePage=65001 %>x", 65001, nullptr, 0},
        {"<%@ CODEPAGE=\"65001\" LANGUAGE=VBScript %>x", 65001, nullptr, 0},
        {"\r\n <%@codepage = '932'%>x", 932, nullptr, 0},
        {"<%@ Language = \"VBScript\"\r\n   CodePage\t=\t1252 %>x", 1252, nullptr, 0},
        {"<%@ LANGUAGE=\"VBSCRIPT\" %>x", 0, nullptr, 0},
        {"<%@ Language=JScript %>x", 0, nullptr, 0},
        {"<p>x</p><% y = 1 %>", 0, nullptr, 0},
        {"<%@ CodePage=utf-8 %>", 0, "needs a code page number", 1},
        {"<%@ CodePage=\"\" %>", 0, "needs a code page number", 1},
        {"<%@ CodePage %>", 0, "needs a code page number", 1},
        {"<%@ CodePage=\"65001 %>", 0, "needs a code page number", 1},
        {"<%@ CodePage=0 %>", 0, "needs a code page number", 1},
        {"<%@ CodePage=65536 %>", 0, "needs a code page number", 1},
        {"<%@ CodePage=-1 %>", 0, "needs a code page number", 1},
        {"<%@ CodePage=4294967297 %>", 0, "needs a code page number", 1},
        {"\n<%@ CodePage=12345 %>", 0, "CodePage=12345 is not a code page", 2},
        {"x\n<%@ CodePage=65001 %>", 0, "must come before", 2},
        {"<% y = 1 %><%@ Language=VBScript %>", 0, "must come before", 1},
    };
    for (const DirectiveRow& row : rows) {
        SCOPED_TRACE(row.page);
        const CompiledPage page = CompilePage(row.page, KnownCodePage);
        EXPECT_EQ(page.codePage, row.codePage);
        if (!row.error) {
            EXPECT_EQ(page.error, "");
            EXPECT_FALSE(page.script.empty());
            continue;
        }
        EXPECT_NE(page.error.find(row.error), std::string::npos) << page.error;
        EXPECT_EQ(page.errorLine, row.errorLine);
        EXPECT_TRUE(page.script.empty());
    }
    // Without the platform's word, any number of the range is taken.
    EXPECT_EQ(CompilePage("<%@ CodePage=12345 %>").codePage, 12345u);
}
