#include <gtest/gtest.h>

#include <optional>

#include "tests/MultipartHarness.h"

namespace {

using Limit = ParseLimitExceeded::Limit;

std::string FilePart(const std::string& name, const std::string& data, const std::string& headers = "") {
    return Part("name=\"" + name + "\"; filename=\"" + name + ".bin\"", data, headers);
}

// Each body is parsed after "kept=1", with the limits of its row: a body
// within its limits adds its values, one past a limit fails with that limit
// and leaves the earlier results and the temporary directory as they were.
TEST(ParseLimits, EachLimitHoldsAtItsValueAndFailsOnePast) {
    const std::string big(10000, 'x');  // past one put buffer of the file
    const std::string urlBody = "a=1&b=2&a=3";
    const std::string textParts = Part("name=\"a\"", "1") + Part("name=\"b\"", "2") + Closing();
    // A blank file input adds no value and stores nothing.
    const std::string mixed = Part("name=\"a\"", "1") + Part("name=\"f\"; filename=\"\"", "") +
                              FilePart("g", big) + FilePart("h", "small") + Closing();
    struct Row {
        const char* what;
        bool multipart;
        std::string body;
        ParseLimits limits;
        std::optional<Limit> failure;
    };
    const Row rows[] = {
        {"pairs at the bound", false, urlBody, {0, 0, 3}, {}},
        {"a pair past it", false, urlBody, {0, 0, 2}, Limit::Parts},
        {"file bounds leave pairs alone", false, urlBody, {1, 1, 0}, {}},
        {"text parts at the bound", true, textParts, {0, 0, 2}, {}},
        {"a text part past it", true, textParts, {0, 0, 1}, Limit::Parts},
        {"values at the bound: a blank file input does not count", true, mixed, {0, 0, 3}, {}},
        {"a value past it", true, mixed, {0, 0, 2}, Limit::Parts},
        {"files at the bound", true, mixed, {0, 2, 0}, {}},
        {"a file past it", true, mixed, {0, 1, 0}, Limit::Files},
        {"the largest file at the bound", true, mixed, {10000, 0, 0}, {}},
        {"a byte past it", true, mixed, {9999, 0, 0}, Limit::FileBytes},
        {"every bound at once", true, mixed, {10000, 2, 3}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDirectory temp;
        PostDataParser parser;
        ParseBody(parser, "application/x-www-form-urlencoded", "kept=1");
        const std::string type = row.multipart ? kMultipartType : "application/x-www-form-urlencoded";
        std::optional<Limit> failure;
        try {
            ParseBody(parser, type, row.body, row.limits);
        } catch (const ParseLimitExceeded& e) {
            failure = e.Which();
            const uint32_t set[] = {row.limits.maxFileBytes, row.limits.maxFiles, row.limits.maxParts};
            EXPECT_EQ(e.Value(), set[static_cast<int>(e.Which())]);
        }
        EXPECT_EQ(failure, row.failure);
        if (row.failure) {
            EXPECT_EQ(Fields(parser), (FieldsView{{"kept", {"1"}}}));
            EXPECT_TRUE(parser.Files().Count() == 0 && temp.Files().empty());
        } else {
            EXPECT_GT(parser.Fields().Count(), 1u);
            EXPECT_EQ(temp.Files().size(), parser.Files().Count());
        }
    }
}

// The bounds count what one call adds: a second call starts afresh.
TEST(ParseLimits, CountPerCall) {
    TempDirectory temp;
    PostDataParser parser;
    const std::string body = FilePart("f", "data") + Closing();
    for (int call = 0; call < 3; ++call) ParseBody(parser, kMultipartType, body, ParseLimits{4, 1, 1});
    EXPECT_EQ(parser.Files().Count(), 3u);
}

// A parse that fails after its names and values filled several blocks of the
// parser's text storage gives them back, and the fields kept before it, one
// of which it had given more values, read as they were; the same body then
// parses whole. Run under the sanitizers, a text read after it was given
// back fails here.
TEST(ParseLimits, AFailedParseGivesBackItsTextsAndKeepsTheEarlierOnes) {
    PostDataParser parser;
    ParseBody(parser, "application/x-www-form-urlencoded", "kept=1&" + std::string(2000, 'v') + "=long");
    std::string body = "kept=2";
    for (int i = 0; i < 6000; ++i) body += "&name" + std::to_string(i) + "=value" + std::to_string(i);
    const FieldsView before = Fields(parser);
    EXPECT_THROW(ParseBody(parser, "application/x-www-form-urlencoded", body, ParseLimits{0, 0, 6000}),
                 ParseLimitExceeded);
    EXPECT_EQ(Fields(parser), before);
    ParseBody(parser, "application/x-www-form-urlencoded", body);
    const FieldsView after = Fields(parser);
    ASSERT_EQ(after.size(), 6002u);
    EXPECT_EQ(after[0], (std::pair<std::string, std::vector<std::string>>{"kept", {"1", "2"}}));
    for (int i = 0; i < 6000; i += 997) EXPECT_EQ(after[2 + i].second[0], "value" + std::to_string(i));
}

// The part's Content-Type header, whatever the case of its name, trimmed of
// spaces and tabs; the last one counts; other headers and text parts give none.
TEST(PartContentType, IsRecordedOnTheFile) {
    TempDirectory temp;
    PostDataParser parser;
    ParseMultipartBody(parser, FilePart("a", "1", "Content-Type: \t image/png \t\r\n") +
                                   FilePart("b", "2", "content-TYPE:text/plain; charset=utf-8\r\n") +
                                   FilePart("c", "3") + FilePart("d", "4", "Content-Typo: x\r\n") +
                                   FilePart("e", "5", "Content-Type: a\r\nContent-Type: b\r\n") +
                                   FilePart("f", "6", "Content-Type:\r\n") +
                                   Part("name=\"t\"", "text", "Content-Type: text/plain\r\n") + Closing());
    std::vector<std::string> types;
    for (const UploadedFile& file : parser.Files()) types.push_back(Str(file.contentType));
    EXPECT_EQ(types, (std::vector<std::string>{"image/png", "text/plain; charset=utf-8", "", "", "b", ""}));
    EXPECT_EQ(Fields(parser).back(), (std::pair<std::string, std::vector<std::string>>{"t", {"text"}}));
}

}  // namespace
