#pragma once
// Feeds a body to a parser the way the upload object does: every byte goes
// into a ByteBuffer (mode 1, 1024-byte buffers) with PutByte, and Parse reads
// it back through the buffer's input side.
#include <string>
#include <vector>

#include "support/ByteBuffer.h"
#include "parse/PostDataParser.h"

using namespace qor;

inline void ParseBody(PostDataParser& parser, const std::string& contentType, const std::string& body,
                      const ParseLimits& limits = {}, ParseObserver* observer = nullptr) {
    ByteBuffer buffer(ByteStream::kSynchronised, 1024);
    for (char c : body) buffer.PutByte(static_cast<unsigned char>(c));
    parser.Parse(contentType.c_str(), buffer, limits, observer);
}

inline std::string Str(const ByteString& b) { return std::string(b.Text(), b.Length()); }

// The parser's fields as name -> values, in list order.
inline std::vector<std::pair<std::string, std::vector<std::string>>> Fields(const PostDataParser& parser) {
    std::vector<std::pair<std::string, std::vector<std::string>>> out;
    for (const FormField& field : parser.Fields()) {
        std::vector<std::string> values;
        for (const ByteString& v : field.values) values.push_back(Str(v));
        out.emplace_back(Str(field.name), values);
    }
    return out;
}

using FieldsView = std::vector<std::pair<std::string, std::vector<std::string>>>;
