// Fuzz target for URL-encoded bodies. The input is the body. It is parsed as
// the upload object parses it (in place, from the host's bytes) and through a
// ByteBuffer read in small blocks, and both results must equal the literal
// whole-text parse; the whole-form text must be the one that the fields give.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/ByteBuffer.h"
#include "support/MemoryInput.h"
#include "tests/ReferenceUrlEncoded.h"

using namespace qor;

namespace {

const char kUrlEncoded[] = "application/x-www-form-urlencoded";

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "url-encoded fuzz: %s\n", what);
        std::abort();
    }
}

// name=v1,v2;name2=v3 from the literal fields.
std::string FormTextOf(const FieldsView& fields) {
    std::string text;
    for (const auto& [name, values] : fields) {
        if (!text.empty()) text += ';';
        text += name + '=';
        for (size_t i = 0; i < values.size(); ++i) text += (i ? "," : "") + values[i];
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    const FieldsView expected = LiteralParse(body);

    PostDataParser inPlace;
    MemoryInput memory(data, static_cast<uint32_t>(size));
    inPlace.Parse(kUrlEncoded, memory);
    Require(Fields(inPlace) == expected, "in-place parse differs from the literal parse");
    Require(Str(inPlace.FormText()) == FormTextOf(expected), "whole-form text differs");

    PostDataParser buffered;
    ByteBuffer buffer(ByteStream::kSynchronised, 7);
    for (unsigned char c : body) buffer.PutByte(c);
    buffered.Parse(kUrlEncoded, buffer);
    Require(Fields(buffered) == expected, "parse through a 7-byte buffer differs from the literal parse");
    return 0;
}
