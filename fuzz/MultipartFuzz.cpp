// Fuzz target over (content type, body): the input up to its first LF is the
// content type, the rest the body. Each input is parsed as the upload object
// does it (body through a ByteBuffer with 1024-byte buffers), then checked:
// a multipart parse must agree with the byte-wise reference parser, every
// stored file must hold its part's bytes, and once the parser is destroyed
// its private temporary directory must be empty again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/ByteBuffer.h"
#include "fuzz/FuzzFiles.h"
#include "parse/PostDataParser.h"
#include "tests/ReferenceMultipart.h"
#include "support/XAlarm.h"

using namespace qor;

namespace {

std::string Str(const ByteString& b) { return std::string(b.Text(), b.Length()); }

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "multipart fuzz: %s\n", what);
    std::abort();
}

void Check(const PostDataParser& parser, const std::string& delimiter, const std::string& body) {
    const reference::Result expected = reference::Multipart(body, delimiter).Parse();
    if (expected.fields.size() != parser.Fields().Count()) Fail("field count differs");
    for (uint32_t i = 0; i < parser.Fields().Count(); ++i) {
        const FormField& field = parser.Fields()[i];
        if (Str(field.name) != expected.fields[i].first) Fail("field name differs");
        if (field.values.Count() != expected.fields[i].second.size()) Fail("value count differs");
        for (uint32_t v = 0; v < field.values.Count(); ++v)
            if (Str(field.values[v]) != expected.fields[i].second[v]) Fail("value differs");
    }
    if (expected.files.size() != parser.Files().Count()) Fail("file count differs");
    for (uint32_t i = 0; i < parser.Files().Count(); ++i) {
        const UploadedFile& file = parser.Files()[i];
        const reference::File& want = expected.files[i];
        if (Str(file.fieldName) != want.fieldName || Str(file.userPath) != want.userPath) Fail("file record differs");
        if (file.size != static_cast<int32_t>(want.data.size())) Fail("file size differs");
        if (ReadWholeFile(Str(file.tmpPath.Name())) != want.data) Fail("file content differs");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& dir = TempDir();
    const auto* newline = static_cast<const uint8_t*>(std::memchr(data, '\n', size));
    const size_t typeLength = newline ? static_cast<size_t>(newline - data) : size;
    const std::string contentType(reinterpret_cast<const char*>(data), typeLength);
    const std::string body = newline ? std::string(reinterpret_cast<const char*>(newline + 1), data + size - newline - 1)
                                     : std::string();
    {
        PostDataParser parser;
        bool alarmed = false;
        {
            ByteBuffer buffer(ByteStream::kSynchronised, 1024);
            buffer.PutBytes(reinterpret_cast<const unsigned char*>(body.data()), static_cast<uint32_t>(body.size()));
            try {
                parser.Parse(contentType.c_str(), buffer);
            } catch (const XAlarm&) {
                alarmed = true;  // a file system failure, not a parser fault
            }
        }
        ByteString delimiter;
        if (!alarmed && PostDataParser::MultipartDelimiter(contentType.c_str(), delimiter))
            Check(parser, Str(delimiter), body);
    }
    if (!DirectoryEmpty(dir)) Fail("temporary files left behind");
    return 0;
}
