#pragma once
// Request bodies for the soak run: well-formed ones with the results a script
// must see, the same cut short, hostile shapes (many tiny parts, near-miss
// delimiters in values) and mutations of the fuzzers' inputs. Generation is
// deterministic for a seed; only running out of memory throws.
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace soak {

// Text is kept as the bytes the client sent; the checker converts it with
// the code page the object was given.
struct ExpectedFile {
    std::string field;
    std::string userPath;
    std::string contentType;
    std::string bytes;
};

struct Expected {
    std::vector<std::pair<std::string, std::vector<std::string>>> form;  // first-appearance order
    std::vector<ExpectedFile> files;
    uint32_t values = 0;  // what MaxParts counts: text values and stored files
};

struct SoakRequest {
    std::string contentType;
    std::string body;
};

struct SoakCase {
    const char* kind;
    std::vector<SoakRequest> requests;   // posted one after another to one object
    std::optional<Expected> expected;    // what the requests give together, when known
};

// A fuzzer input: a content type and a body.
struct CorpusEntry {
    std::string contentType;
    std::string body;
};

class BodyGenerator {
public:
    BodyGenerator(uint64_t seed, std::vector<CorpusEntry> corpus);

    // The next case. `utf8` keeps every text of a well-formed body valid
    // UTF-8 (for CodePage 65001); otherwise bytes above 127 are any byte.
    SoakCase Next(bool utf8);

    uint32_t Below(uint32_t n) { return n == 0 ? 0 : std::uniform_int_distribution<uint32_t>(0, n - 1)(random_); }

private:
    SoakCase WellFormed(bool utf8, int requests);
    SoakCase Truncated(bool utf8);
    SoakCase Hostile();
    SoakCase Mutated();

    SoakRequest Multipart(bool utf8, Expected& expected);
    SoakRequest UrlEncoded(bool utf8, Expected& expected);
    std::string Name(bool utf8);
    std::string Text(bool utf8, size_t length, const std::string& boundary);
    std::string FileBytes();
    void Mutate(std::string& body);

    std::mt19937_64 random_;
    std::vector<CorpusEntry> corpus_;
};

// Adds a value under its name, keeping the first-appearance order of names.
void AddValue(Expected& expected, const std::string& name, std::string value);

}  // namespace soak
