// Fuzz target for reading a body in chunks. The input's first three bytes
// choose the chunk size, the most a source gives per answer, the limits and
// whether the source ends early; the rest up to the first LF is the content
// type, and after it comes the body. The body is parsed once in place and once
// through chunks, with the same limits: both must end the same way (the same
// limit, or none) with the same fields, records and file contents, and a
// parse that fails must leave no file. A source that ends early may only make
// the chunked parse fail; when it does not, the parse needed none of the
// missing bytes and must equal the whole one.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "support/ChunkedInput.h"
#include "fuzz/FuzzFiles.h"
#include "support/MemoryInput.h"
#include "parse/PostDataParser.h"
#include "support/XAlarm.h"

using namespace qor;

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "chunked intake fuzz: %s\n", what);
        std::abort();
    }
}

std::string Str(const ByteString& b) { return std::string(b.Text(), b.Length()); }

struct EndedEarly {};

// Hands out the first `available` bytes of the body, at most `most` per answer.
class FakeSource final : public ChunkedInput {
public:
    FakeSource(const std::string& body, uint32_t available, uint32_t chunk, uint32_t most)
        : ChunkedInput(static_cast<uint32_t>(body.size()), chunk), body_(body), available_(available), most_(most) {}

protected:
    uint32_t ReadChunk(uint32_t count, const unsigned char*& bytes) override {
        Require(count != 0 && count <= body_.size() - given_, "asked for a chunk beyond the body");
        uint32_t n = std::min(std::min(count, most_), available_ > given_ ? available_ - given_ : 0u);
        bytes = reinterpret_cast<const unsigned char*>(body_.data()) + given_;
        given_ += n;
        // Past what was asked: the reader must not look at it.
        return n == count && n < most_ ? n + 1 : n;
    }
    void EndedEarly(uint32_t received, uint32_t total) override {
        Require(received == given_ && received < total, "ended early at the wrong place");
        throw ::EndedEarly{};
    }

private:
    const std::string& body_;
    const uint32_t available_, most_;
    uint32_t given_ = 0;
};

// How a parse ended and what it left: fields, records and file contents.
struct Outcome {
    std::optional<ParseLimitExceeded::Limit> limit;
    bool endedEarly = false, alarmed = false;
    std::vector<std::string> results;
    bool operator==(const Outcome&) const = default;
};

Outcome Parse(const std::string& contentType, InputBuffer& body, const ParseLimits& limits) {
    Outcome outcome;
    PostDataParser parser;
    try {
        parser.Parse(contentType.c_str(), body, limits);
    } catch (const ParseLimitExceeded& e) {
        outcome.limit = e.Which();
    } catch (const EndedEarly&) {
        outcome.endedEarly = true;
    } catch (const XAlarm&) {
        outcome.alarmed = true;  // a file system failure, not a parser fault
    }
    for (const FormField& field : parser.Fields()) {
        outcome.results.push_back(Str(field.name));
        for (const ByteString& value : field.values) outcome.results.push_back("=" + Str(value));
    }
    for (const UploadedFile& file : parser.Files()) {
        for (const ByteString* text : {&file.fieldName, &file.userPath, &file.contentType})
            outcome.results.push_back(Str(*text));
        outcome.results.push_back(std::to_string(file.size) + ":" + ReadWholeFile(Str(file.tmpPath.Name())));
    }
    if (outcome.limit || outcome.endedEarly) Require(outcome.results.empty(), "a failed parse kept results");
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& dir = TempDir();
    if (size < 3) return 0;
    static constexpr uint32_t kChunks[] = {1, 2, 3, 7, 64, 4096, 65536, 1u << 20};
    const uint32_t chunk = kChunks[data[0] & 7];
    const uint32_t most = data[1] & 0x80 ? 1 + (data[1] & 0x3F) : UINT32_MAX;
    const ParseLimits limits{(data[2] & 3u) * 7u, (data[2] >> 2) & 3u, (data[2] >> 4) & 7u};
    const bool cutShort = (data[0] & 0x80) != 0;
    const std::string input(reinterpret_cast<const char*>(data + 3), size - 3);
    const size_t newline = input.find('\n');
    const std::string contentType = input.substr(0, newline);
    const std::string body = newline == std::string::npos ? std::string() : input.substr(newline + 1);
    const uint32_t available = cutShort ? static_cast<uint32_t>(body.size() / 2) : static_cast<uint32_t>(body.size());

    MemoryInput whole(reinterpret_cast<const unsigned char*>(body.data()), static_cast<uint32_t>(body.size()));
    const Outcome expected = Parse(contentType, whole, limits);
    FakeSource chunks(body, available, chunk, most);
    const Outcome outcome = Parse(contentType, chunks, limits);
    if (!expected.alarmed && !outcome.alarmed && !outcome.endedEarly)
        Require(outcome == expected, "the chunked parse differs from the whole one");
    Require(cutShort || !outcome.endedEarly, "a whole body ended early");
    Require(DirectoryEmpty(dir), "temporary files left behind");
    return 0;
}
