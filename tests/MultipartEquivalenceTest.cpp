#include <gtest/gtest.h>

#include <random>

#include "tests/FileSeams.h"
#include "support/MemoryInput.h"
#include "tests/MultipartHarness.h"
#include "tests/ReferenceMultipart.h"

using namespace qor;

namespace {

// Generates bodies full of what trips a delimiter search: CRs at run ends,
// near-miss delimiters of every length, complete delimiters followed by the
// wrong bytes, all of it often straddling the 1024-byte blocks in which the
// body reaches the parser; odd headers, empty file names, nameless parts,
// truncation and text after the closing delimiter.
class BodyGenerator {
public:
    explicit BodyGenerator(unsigned seed) : random_(seed) {}

    std::string Body(const std::string& delimiter) {
        std::string body = delimiter + (Chance(10) ? "\n" : "\r\n");
        const int parts = Pick(0, 6);
        for (int p = 0; p < parts; ++p) {
            body += Headers();
            Data(body, delimiter, Pick(0, 5) == 0 ? Pick(0, 20000) : Pick(0, 2500));
            body += "\r\n" + delimiter;
            if (p + 1 < parts) {
                body += Chance(15) ? "--" : "\r\n";
            } else if (!Chance(8)) {
                body += Chance(5) ? "--" + Headers() : "--\r\n";
            }
        }
        if (Chance(4)) body.resize(Pick(0, static_cast<int>(body.size())));
        return body;
    }

private:
    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    bool Chance(int oneIn) { return Pick(1, oneIn) == 1; }

    std::string Headers() {
        static const char* const names[] = {"name=\"a\"", "name=\"b\"", "name=a", "name=\"a;x\"", "name=\"\"",
                                            "Name=\"a\"", "name = \"c\""};
        static const char* const fileNames[] = {"", "filename=\"f.txt\"", "filename=\"\"", "filename=\"C:\\d\\g.bin\"",
                                                "filename=\"h=1\""};
        static const char* const headerNames[] = {"Content-Disposition", "content-disposition",
                                                  "CONTENT-disposition", "Content-Disposition "};
        std::string h;
        if (Chance(6)) h += "Content-Type: text/plain\r\n";
        const int lines = Chance(12) ? 0 : Pick(1, 2);
        for (int i = 0; i < lines; ++i) {
            h += std::string(headerNames[Chance(8) ? Pick(0, 3) : 0]) + ": form-data; ";
            const std::string name = names[Chance(6) ? Pick(0, 6) : Pick(0, 1)];
            const std::string file = fileNames[Pick(0, 4)];
            h += Chance(2) ? name + (file.empty() ? "" : "; " + file) : (file.empty() ? name : file + "; " + name);
            h += Chance(10) ? "\n" : "\r\n";
        }
        return h + "\r\n";
    }

    // Appends about `size` bytes of data to body.
    void Data(std::string& body, const std::string& delimiter, int size) {
        const size_t end = body.size() + static_cast<size_t>(size);
        while (body.size() < end) {
            if (Chance(3)) {
                // Put the next piece right across a 1024-byte block boundary.
                const size_t boundary = (body.size() / 1024 + 1) * 1024;
                const size_t stop = boundary - static_cast<size_t>(Pick(0, static_cast<int>(delimiter.size()) + 4));
                while (body.size() < stop && body.size() < end) body.push_back(Filler());
            }
            switch (Pick(0, 9)) {
            case 0: body += "\r"; break;
            case 1: body += "\r\n"; break;
            case 2: body += "\r\r\n"; break;
            case 3: body += "\r\n" + delimiter.substr(0, Pick(0, static_cast<int>(delimiter.size()))); break;
            case 4: {
                static const char* const tails[] = {"x", "-", "-x", "\r", "\rx", "\r\r\n", " ", "\n", "-\r\n"};
                body += "\r\n" + delimiter + tails[Pick(0, 8)];
                break;
            }
            case 5: body += delimiter; break;
            case 6: body += "\n" + delimiter + "--"; break;
            default:
                for (int n = Pick(1, 40); n > 0; --n) body.push_back(Filler());
            }
        }
    }

    char Filler() {
        static const char alphabet[] = "ab-\r\n\0\xff";
        return Chance(4) ? static_cast<char>(Pick(0, 255)) : alphabet[Pick(0, 6)];
    }

    std::mt19937 random_;
};

struct Outcome {
    FieldsView fields;
    std::vector<FileView> files;
};

// Reading in place from the body's own memory, as the upload object reads
// the host's array, instead of through a ByteBuffer.
constexpr uint32_t kInPlace = UINT32_MAX;

// The parser reading through a buffer of the given size (0: unbuffered), or
// in place.
Outcome ParseWithBuffer(const std::string& body, const std::string& boundary, uint32_t bufferSize) {
    PostDataParser parser;
    WriteRecorder recorder;
    const std::string contentType = "multipart/form-data; boundary=" + boundary;
    if (bufferSize == kInPlace) {
        MemoryInput input(reinterpret_cast<const unsigned char*>(body.data()), static_cast<uint32_t>(body.size()));
        parser.Parse(contentType.c_str(), input);
    } else {
        ByteBuffer buffer(ByteStream::kSynchronised, bufferSize);
        for (char c : body) buffer.PutByte(static_cast<unsigned char>(c));
        parser.Parse(contentType.c_str(), buffer);
    }

    Outcome out{Fields(parser), Files(parser)};
    // Files are written one after the other, each in writes of at most
    // kLargeWrite bytes that add up to its size.
    size_t at = 0;
    for (const StoredFile& file : StoredFiles(parser)) {
        unsigned total = 0;
        while (total < static_cast<unsigned>(file.size) && at < recorder.writes.size()) {
            EXPECT_LE(recorder.writes[at].count, PostDataParser::kLargeWrite);
            total += recorder.writes[at++].count;
        }
        EXPECT_EQ(total, static_cast<unsigned>(file.size));
        EXPECT_EQ(file.size, static_cast<int32_t>(file.data.size()));
    }
    EXPECT_EQ(at, recorder.writes.size());
    return out;
}

Outcome Expected(const std::string& body, const std::string& boundary) {
    const reference::Result result = reference::Multipart(body, "--" + boundary).Parse();
    Outcome out{result.fields, {}};
    for (const reference::File& file : result.files) out.files.push_back({file.fieldName, file.userPath, file.data});
    return out;
}

TEST(MultipartEquivalence, BulkParserMatchesByteWiseReferenceOnTrickyBodies) {
    TempDirectory temp;
    const int bodies = 600;
    const std::string boundaries[] = {"AaB03x", "-", "----WebKitFormBoundary7MA4YWxkTrZu0gW", "--", "x", "A\rB"};
    BodyGenerator generator(20240611);
    size_t filesSeen = 0, valuesSeen = 0;
    for (int i = 0; i < bodies; ++i) {
        const std::string& boundary = boundaries[i % 6];
        const std::string body = generator.Body("--" + boundary);
        const Outcome expected = Expected(body, boundary);
        for (uint32_t bufferSize : {1024u, kInPlace, 0u, 1u, 7u, 4096u}) {
            if (bufferSize != 1024 && bufferSize != kInPlace && i % 4 != 0) continue;
            const Outcome actual = ParseWithBuffer(body, boundary, bufferSize);
            ASSERT_EQ(actual.fields, expected.fields) << "body " << i << ", buffer " << bufferSize;
            ASSERT_EQ(actual.files, expected.files) << "body " << i << ", buffer " << bufferSize;
        }
        filesSeen += expected.files.size();
        for (const auto& field : expected.fields) valuesSeen += field.second.size();
        ASSERT_TRUE(temp.Files().empty()) << "body " << i;
    }
    // The generator must reach the interesting cases, not just empty bodies.
    EXPECT_GT(filesSeen, static_cast<size_t>(bodies / 4));
    EXPECT_GT(valuesSeen, static_cast<size_t>(bodies));
}


// A delimiter may begin at any byte of a run, and the search for it looks at
// many bytes at a time: put each kind of candidate (a lone CR, CR LF, CR LF and
// part of the delimiter, the whole delimiter followed by the wrong byte, CR at
// the very end of the data, the real delimiter) at every offset of a block
// and across block ends.
TEST(MultipartEquivalence, DelimiterCandidatesAtEveryOffsetOfARun) {
    TempDirectory temp;
    const std::string boundary = "AaB03x";
    const std::string delimiter = "--" + boundary;
    const std::string head = delimiter + "\r\nContent-Disposition: form-data; name=\"f\"\r\n\r\n";
    const std::string candidates[] = {"\r", "\r\n", "\r\r\n", "\r\n--AaB", "\r\n" + delimiter + "x", "\r\n" + delimiter + "-x",
                                      "\r\n" + delimiter + "\r\nContent-Disposition: form-data; name=\"g\"\r\n\r\n"};
    size_t values = 0;
    for (uint32_t offset = 0; offset < 1200; ++offset) {
        for (const std::string& candidate : candidates) {
            std::string data(offset, 'a');
            for (uint32_t i = 0; i < offset; i += 37) data[i] = '\n';  // LF alone is data
            const std::string body = head + data + candidate + std::string(150, 'b') + "\r\n" + delimiter + "--\r\n";
            const Outcome expected = Expected(body, boundary);
            for (uint32_t bufferSize : {1024u, 4096u, kInPlace}) {
                const Outcome actual = ParseWithBuffer(body, boundary, bufferSize);
                ASSERT_EQ(actual.fields, expected.fields) << "offset " << offset << ", buffer " << bufferSize;
            }
            for (const auto& field : expected.fields) values += field.second.size();
        }
    }
    EXPECT_EQ(values, 1200u * 8);  // the last candidate makes a second field
}

// Header lines of every shape: the name in any case, misspelt or padded,
// blanks before it, a NUL anywhere (the colon's place included), CRs inside,
// and parameters with stray blanks, quotes, commas, "=" and ";".
class HeaderLineGenerator {
public:
    explicit HeaderLineGenerator(unsigned seed) : random_(seed) {}

    std::string Line() {
        using namespace std::string_literals;
        static const std::string leads[] = {" ", "\t", ",", " ,\t", "\"", "\0"s, " \0"s};
        static const std::string separators[] = {" :", "", "::", ";", "\0"s, "\0:"s};
        std::string line = Chance(3) ? leads[Pick(0, 6)] : "";
        line += Name() + (Chance(4) ? separators[Pick(0, 5)] : ":");
        for (int n = Pick(0, 4); n > 0; --n) line += Parameter() + (Chance(4) ? "" : ";");
        if (Chance(5)) line.insert(static_cast<size_t>(Pick(0, static_cast<int>(line.size()))), 1, '\0');
        if (Chance(6)) line.insert(static_cast<size_t>(Pick(0, static_cast<int>(line.size()))), 1, '\r');
        return line + (Chance(8) ? "\n" : "\r\n");
    }

private:
    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    bool Chance(int oneIn) { return Pick(1, oneIn) == 1; }

    std::string Name() {
        std::string name = "Content-Disposition";
        for (char& c : name)
            if (Chance(3) && c != '-') c = static_cast<char>(c ^ 0x20);
        switch (Pick(0, 9)) {
        case 0: return name + " ";
        case 1: return name.substr(0, static_cast<size_t>(Pick(0, 18)));
        case 2: name[static_cast<size_t>(Pick(0, 18))] = static_cast<char>("-_ \r\xc3"[Pick(0, 4)]); return name;
        case 3: return "Content-Type";
        case 4: return name + "x";
        default: return name;
        }
    }

    std::string Parameter() {
        static const char* const names[] = {"form-data", "name", "name", "filename", "filename", "Name",
                                            "name ", "\"name\"", "file", "names", ""};
        static const char* const values[] = {"a", "b c", "x=y", "", "\"q\"", "a,b", "\"\"", "f.txt", "\"r;s\"",
                                             "\" t \"", "C:\\d\\e.bin"};
        std::string p = Blanks() + names[Pick(0, 10)];
        if (!Chance(6)) p += Blanks() + "=" + Blanks() + values[Pick(0, 10)];
        return p + Blanks();
    }

    // Mostly none: a blank before "=" hides a name.
    std::string Blanks() {
        static const char* const blanks[] = {" ", "\t", ",", "\"", " \"", "\t,"};
        return Chance(3) ? blanks[Pick(0, 5)] : "";
    }

    std::mt19937 random_;
};

TEST(MultipartEquivalence, HeaderLinesOfAnyShapeMatchByteWiseReference) {
    TempDirectory temp;
    HeaderLineGenerator generator(1103);
    const std::string boundary = "AaB03x";
    const std::string delimiter = "--" + boundary;
    int named = 0, files = 0, nameless = 0;
    for (int i = 0; i < 3000; ++i) {
        // Two parts, each with one to three lines; the first part is often
        // named properly, so that odd lines after it can still change it.
        std::string body = delimiter + "\r\n";
        for (int part = 0; part < 2; ++part) {
            if (i % 3 == 0) body += "Content-Disposition: form-data; name=\"base\"\r\n";
            for (int n = 1 + i % 3; n > 0; --n) body += generator.Line();
            body += "\r\nvalue " + std::to_string(i) + "\r\n" + delimiter + (part == 0 ? "\r\n" : "--\r\n");
        }
        const Outcome expected = Expected(body, boundary);
        // Lines split across get buffers too, down to single bytes.
        static const uint32_t bufferSizes[] = {1024, 7, 1, 0, 64, kInPlace};
        const Outcome actual = ParseWithBuffer(body, boundary, bufferSizes[i % 6]);
        ASSERT_EQ(actual.fields, expected.fields) << "body " << i;
        ASSERT_EQ(actual.files, expected.files) << "body " << i;
        ASSERT_TRUE(temp.Files().empty()) << "body " << i;
        if (expected.fields.empty()) ++nameless;
        for (const auto& field : expected.fields)
            if (field.first != "base") ++named;
        files += static_cast<int>(expected.files.size());
    }
    // The odd lines must name parts, name files and hide names, all often.
    EXPECT_GT(named, 200);
    EXPECT_GT(files, 80);
    EXPECT_GT(nameless, 300);
}

}  // namespace
