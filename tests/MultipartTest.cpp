#include <gtest/gtest.h>

#include "tests/MultipartHarness.h"

namespace {

// Each test parses into a private temporary directory.
class Multipart : public ::testing::Test {
protected:
    TempDirectory temp;

    FieldsView FieldsOf(const std::string& body) {
        PostDataParser parser;
        ParseMultipartBody(parser, body);
        return Fields(parser);
    }

    // The value that a text part named v receives for data, closed properly.
    std::string TextValue(const std::string& data) {
        const FieldsView fields = FieldsOf(Part("name=\"v\"", data) + Closing());
        if (fields.size() != 1 || fields[0].second.size() != 1) return "<no single value>";
        return fields[0].second[0];
    }

    // The value that a text part receives from a body cut off after data.
    std::string TruncatedValue(const std::string& data) {
        const FieldsView fields =
            FieldsOf(kDelimiter + "\r\nContent-Disposition: form-data; name=\"v\"\r\n\r\n" + data);
        if (fields.size() != 1 || fields[0].second.size() != 1) return "<no single value>";
        return fields[0].second[0];
    }
};

TEST_F(Multipart, DelimiterOnlyAfterCrLfAndFollowedByHyphensOrCrLf) {
    EXPECT_EQ(TextValue("plain"), "plain");
    EXPECT_EQ(TextValue(""), "");
    // Near misses pass through unchanged, held-back bytes included.
    EXPECT_EQ(TextValue("a\r\n--AaB0Z"), "a\r\n--AaB0Z");
    EXPECT_EQ(TextValue("a\r\n-"), "a\r\n-");
    EXPECT_EQ(TextValue("a\r\nb"), "a\r\nb");
    EXPECT_EQ(TextValue("a\r\n--AaB03xY"), "a\r\n--AaB03xY");
    EXPECT_EQ(TextValue("a\r\n--AaB03x-Y"), "a\r\n--AaB03x-Y");
    EXPECT_EQ(TextValue("a\r\n--AaB03x\rY"), "a\r\n--AaB03x\rY");
    EXPECT_EQ(TextValue("a\r\n--AaB03x "), "a\r\n--AaB03x ");
    // A delimiter not preceded by CR LF is data, also at the start of data
    // and after a bare LF.
    EXPECT_EQ(TextValue("--AaB03x--"), "--AaB03x--");
    EXPECT_EQ(TextValue("a\n--AaB03x--b"), "a\n--AaB03x--b");
    // The byte that ends a near miss is examined again: here it starts the
    // real delimiter.
    EXPECT_EQ(TextValue("a\r\n--AaB03x\r"), "a\r\n--AaB03x\r");
    EXPECT_EQ(TextValue("a\r\n--AaB03x-"), "a\r\n--AaB03x-");
    EXPECT_EQ(TextValue("a\r\n--AaB"), "a\r\n--AaB");
    EXPECT_EQ(TextValue("\r"), "\r");
    EXPECT_EQ(TextValue("x\r\n"), "x\r\n");
    EXPECT_EQ(TextValue("\r\r"), "\r\r");
    // A CR just before the delimiter's CR LF stays data.
    EXPECT_EQ(TextValue("abc\r"), "abc\r");
    // NUL and high bytes are data like any other.
    EXPECT_EQ(TextValue(std::string("a\0\xff\xe9", 4)), std::string("a\0\xff\xe9", 4));
}

TEST_F(Multipart, DelimiterBytesCompareUnsigned) {
    const std::string delimiter = "--\xe9\xff";
    const std::string body = delimiter + "\r\nContent-Disposition: form-data; name=\"v\"\r\n\r\n" +
                             "x\r\n--\xe9\xfe" + "\r\n" + delimiter + "\r\n" +
                             "Content-Disposition: form-data; name=\"w\"\r\n\r\ny\r\n" + delimiter + "--";
    PostDataParser parser;
    ParseBody(parser, "multipart/form-data; boundary=\xe9\xff", body);
    EXPECT_EQ(Fields(parser), (FieldsView{{"v", {"x\r\n--\xe9\xfe"}}, {"w", {"y"}}}));
}

TEST_F(Multipart, TruncatedBodiesKeepDataLessHeldBackBytes) {
    EXPECT_EQ(TruncatedValue("hello"), "hello");
    EXPECT_EQ(TruncatedValue("hello\r"), "hello");
    EXPECT_EQ(TruncatedValue("hello\r\n"), "hello");
    EXPECT_EQ(TruncatedValue("hello\r\n--AaB"), "hello");
    EXPECT_EQ(TruncatedValue("hello\r\n--AaB03x"), "hello");
    EXPECT_EQ(TruncatedValue("hello\r\n--AaB03x-"), "hello");
    EXPECT_EQ(TruncatedValue("hello\r\n--AaB03x\r"), "hello");
    // Only the bytes still held back are dropped.
    EXPECT_EQ(TruncatedValue("hello\r\n--AaBc"), "hello\r\n--AaBc");
    EXPECT_EQ(TruncatedValue(""), "");

    // A header block cut off after a named Content-Disposition stores an
    // empty value; a cut inside that line stores nothing.
    EXPECT_EQ(FieldsOf(kDelimiter + "\r\nContent-Disposition: form-data; name=\"t\"\r\n"),
              (FieldsView{{"t", {""}}}));
    EXPECT_EQ(FieldsOf(kDelimiter + "\r\nContent-Disposition: form-data; name=\"t\""), FieldsView{});
    EXPECT_EQ(FieldsOf(kDelimiter), FieldsView{});
}

TEST_F(Multipart, BodyMustOpenWithTheExactDelimiterLine) {
    const std::string rest = "Content-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n" + Closing();
    EXPECT_EQ(FieldsOf(kDelimiter + "\r\n" + rest), (FieldsView{{"a", {"1"}}}));
    // The first line may end in LF alone: CR is dropped anywhere in a line.
    EXPECT_EQ(FieldsOf(kDelimiter + "\n" + rest), (FieldsView{{"a", {"1"}}}));
    EXPECT_EQ(FieldsOf("--AaB\r03x\r\n" + rest), (FieldsView{{"a", {"1"}}}));

    for (const std::string& opening : std::vector<std::string>{"\r\n" + kDelimiter + "\r\n", "preamble\r\n" + kDelimiter + "\r\n",
                                       kDelimiter + " \r\n", kDelimiter + "\t\r\n", " " + kDelimiter + "\r\n",
                                       kDelimiter + "--\r\n", "--aab03x\r\n"}) {
        PostDataParser parser;
        ParseMultipartBody(parser, opening + rest + Part("name=\"f\"; filename=\"f.txt\"", "data"));
        EXPECT_EQ(parser.Fields().Count(), 0u) << opening;
        EXPECT_EQ(parser.Files().Count(), 0u) << opening;
        EXPECT_TRUE(temp.Files().empty()) << opening;
    }
}

TEST_F(Multipart, TextAfterClosingDelimiterIsReadAsAHeaderLine) {
    // The rest of the closing line opens a further part.
    EXPECT_EQ(FieldsOf(Part("name=\"a\"", "1") + kDelimiter +
                       "--Content-Disposition: form-data; name=\"late\"\r\n\r\nlate value\r\n" + Closing()),
              (FieldsView{{"a", {"1"}}, {"late", {"late value"}}}));
    // So does a named Content-Disposition line before the first blank line.
    EXPECT_EQ(FieldsOf(Part("name=\"a\"", "1") + kDelimiter +
                       "-- junk\r\nContent-Disposition: form-data; name=\"b\"\r\n\r\n2"),
              (FieldsView{{"a", {"1"}}, {"b", {"2"}}}));
    // An ordinary closing line ends the parse: the epilogue is never read.
    EXPECT_EQ(FieldsOf(Part("name=\"a\"", "1") + Closing() + Part("name=\"epilogue\"", "x") + Closing()),
              (FieldsView{{"a", {"1"}}}));
    EXPECT_EQ(FieldsOf(Part("name=\"a\"", "1") + kDelimiter + "--"), (FieldsView{{"a", {"1"}}}));
}

TEST_F(Multipart, ContentDispositionNameIsCaseInsensitiveOnlyAsWritten) {
    auto withHeader = [](const std::string& header) {
        return kDelimiter + "\r\n" + header + "\r\n\r\nv\r\n" + Closing();
    };
    EXPECT_EQ(FieldsOf(withHeader("content-disposition: form-data; name=\"a\"")), (FieldsView{{"a", {"v"}}}));
    EXPECT_EQ(FieldsOf(withHeader("CoNtEnT-DiSpOsItIoN: form-data; name=\"a\"")), (FieldsView{{"a", {"v"}}}));
    EXPECT_EQ(FieldsOf(withHeader(" ,\tContent-Disposition:form-data;name=a")), (FieldsView{{"a", {"v"}}}));
    EXPECT_EQ(FieldsOf(withHeader("Content-Disposition: attachment; name = \"b\"; name=\"a\"")),
              (FieldsView{{"a", {"v"}}}));
    EXPECT_EQ(FieldsOf(withHeader("Content-Disposition: form-data; name=  \"a b\"  ")),
              (FieldsView{{"a b", {"v"}}}));

    // Hidden names end the parse; what came before stays.
    for (const char* hidden :
         {"Content-Disposition : form-data; name=\"a\"", "Content-Disposition: form-data; Name=\"a\"",
          "Content-Disposition: form-data; name =\"a\"", "Content-Disposition: form-data; name=\"\"",
          "Content-Disposition: form-data; name", "Content-Disposition:", "Content-Disposition form-data; name=a",
          "Content-Dispositionx: form-data; name=\"a\"", "Content-Type: text/plain"}) {
        PostDataParser parser;
        ParseMultipartBody(parser, Part("name=\"first\"", "1") + kDelimiter + "\r\n" + hidden + "\r\n\r\nv\r\n" +
                                       Part("name=\"later\"", "2") + Closing());
        EXPECT_EQ(Fields(parser), (FieldsView{{"first", {"1"}}})) << hidden;
    }

    // Other headers and lines without a colon are ignored.
    EXPECT_EQ(FieldsOf(kDelimiter + "\r\nX-Junk\r\nContent-Type: text/plain\r\n" +
                       "Content-Disposition: form-data; name=\"a\"\r\nContent-Length: 3\r\n\r\nv\r\n" + Closing()),
              (FieldsView{{"a", {"v"}}}));
}

TEST_F(Multipart, NulInAHeaderLineHidesTheRestOfIt) {
    using namespace std::string_literals;
    auto withHeader = [](const std::string& header) {
        return kDelimiter + "\r\n" + header + "\r\n\r\nv\r\n" + Closing();
    };
    // Parameters end at the NUL: the value is cut and the file name unseen.
    EXPECT_EQ(FieldsOf(withHeader("Content-Disposition: form-data; name=\"a\0b\"; filename=\"f.txt\""s)),
              (FieldsView{{"a", {"v"}}}));
    EXPECT_EQ(FieldsOf(withHeader("Content-Disposition: form-data;\0 name=\"a\""s)), FieldsView{});
    // A NUL before the name leaves an empty header name.
    EXPECT_EQ(FieldsOf(withHeader("\0Content-Disposition: form-data; name=\"a\""s)), FieldsView{});
    // A NUL in the colon's place ends the name as a colon would, and the
    // parameters are read from the byte after it.
    EXPECT_EQ(FieldsOf(withHeader("content-DISPOSITION\0; name=\"z\""s)), (FieldsView{{"z", {"v"}}}));
    EXPECT_EQ(FieldsOf(withHeader(" Content-Disposition\0name=z"s)), (FieldsView{{"z", {"v"}}}));
    // Blanks around parameters: spaces, tabs and commas before one, quotes
    // too before its name; later parameters override earlier ones.
    EXPECT_EQ(FieldsOf(withHeader("Content-Disposition:,;;\t, \"name=\t\"\tv w\t\"\t;name=\"x\";, name=\"a\"b\"")),
              (FieldsView{{"a\"b", {"v"}}}));
}

TEST_F(Multipart, ParameterValuesAreCutAtSemicolonOrEquals) {
    PostDataParser parser;
    ParseMultipartBody(parser, Part("name=\"x=y\"", "1") +
                                   Part("name=\"up\"; filename=\"a;b.txt\"", "A") +
                                   Part("name=\"up\"; filename=\"C:\\Users\\me\\My Files\\r=1.pdf\"", "B") +
                                   Part("name=\"up\"; filename=\"/home/me/x y.txt\"", "C") + Closing());
    EXPECT_EQ(Fields(parser), (FieldsView{{"x", {"1"}}, {"up", {"a", "C:\\Users\\me\\My Files\\r", "/home/me/x y.txt"}}}));
    EXPECT_EQ(Files(parser), (std::vector<FileView>{{"up", "a", "A"},
                                                    {"up", "C:\\Users\\me\\My Files\\r", "B"},
                                                    {"up", "/home/me/x y.txt", "C"}}));
}

TEST_F(Multipart, LaterContentDispositionReplacesFileFlagButNotName) {
    PostDataParser parser;
    ParseMultipartBody(parser, kDelimiter +
                                   "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a.txt\"\r\n"
                                   "Content-Disposition: form-data\r\n\r\ntext\r\n" +
                                   Closing());
    EXPECT_EQ(Fields(parser), (FieldsView{{"f", {"text"}}}));
    EXPECT_EQ(parser.Files().Count(), 0u);
    EXPECT_TRUE(temp.Files().empty());
}

TEST_F(Multipart, EmptyFileNameSkipsThePartEntirely) {
    PostDataParser parser;
    ParseMultipartBody(parser, Part("name=\"a\"", "1") +
                                   Part("name=\"f\"; filename=\"\"", "ignored\r\n--AaB03 data",
                                        "Content-Type: application/octet-stream\r\n") +
                                   Part("name=\"b\"", "2") + Closing());
    EXPECT_EQ(Fields(parser), (FieldsView{{"a", {"1"}}, {"b", {"2"}}}));
    EXPECT_EQ(parser.Files().Count(), 0u);
    EXPECT_TRUE(temp.Files().empty());
}

TEST_F(Multipart, TextAndFileValuesOfOneNameInterleaveInBodyOrder) {
    PostDataParser parser;
    ParseMultipartBody(parser, Part("name=\"a\"", "1") + Part("name=\"a\"; filename=\"x.txt\"", "X") +
                                   Part("name=\"b\"", "") + Part("name=\"a\"", "2") +
                                   Part("filename=\"y.txt\"; name=\"a\"", "Y") + Closing());
    EXPECT_EQ(Fields(parser), (FieldsView{{"a", {"1", "x.txt", "2", "y.txt"}}, {"b", {""}}}));
    EXPECT_EQ(Str(parser.FormText()), "a=1,x.txt,2,y.txt;b=");
    EXPECT_EQ(Files(parser), (std::vector<FileView>{{"a", "x.txt", "X"}, {"a", "y.txt", "Y"}}));
}

TEST_F(Multipart, TwoFilesUnderOneNameAndEmptyFiles) {
    PostDataParser parser;
    ParseMultipartBody(parser, Part("name=\"up\"; filename=\"same.txt\"", "first") +
                                   Part("name=\"up\"; filename=\"same.txt\"", "") + Closing());
    const std::vector<StoredFile> files = StoredFiles(parser);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].data, "first");
    EXPECT_EQ(files[0].size, 5);
    // A file part without data still has its (empty) file.
    EXPECT_EQ(files[1].size, 0);
    EXPECT_TRUE(PathExists(files[1].tmpPath));
    EXPECT_EQ(files[1].data, "");
    EXPECT_NE(files[0].tmpPath, files[1].tmpPath);
    EXPECT_EQ(Fields(parser), (FieldsView{{"up", {"same.txt", "same.txt"}}}));
    EXPECT_EQ(temp.Files().size(), 2u);
}

TEST_F(Multipart, HeaderBlockCutOffInAFilePartLeavesAnEmptyFile) {
    PostDataParser parser;
    ParseMultipartBody(parser, kDelimiter + "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a\"\r\n");
    const std::vector<StoredFile> files = StoredFiles(parser);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].size, 0);
    EXPECT_TRUE(PathExists(files[0].tmpPath));
    EXPECT_EQ(Fields(parser), (FieldsView{{"f", {"a"}}}));
}

TEST_F(Multipart, LaterBodiesMergeIntoEarlierResults) {
    PostDataParser parser;
    ParseMultipartBody(parser, Part("name=\"a\"", "1") + Part("name=\"f\"; filename=\"one\"", "1") + Closing());
    ParseMultipartBody(parser, Part("name=\"b\"", "2") + Part("name=\"a\"", "3") +
                                   Part("name=\"f\"; filename=\"two\"", "2") + Closing());
    EXPECT_EQ(Fields(parser), (FieldsView{{"a", {"1", "3"}}, {"f", {"one", "two"}}, {"b", {"2"}}}));
    EXPECT_EQ(Files(parser), (std::vector<FileView>{{"f", "one", "1"}, {"f", "two", "2"}}));
    // A URL-encoded body merges into the same fields.
    ParseBody(parser, "application/x-www-form-urlencoded", "a=4");
    EXPECT_EQ(Fields(parser)[0], (std::pair<std::string, std::vector<std::string>>{"a", {"1", "3", "4"}}));
}

}  // namespace
