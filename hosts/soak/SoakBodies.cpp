#include "hosts/soak/SoakBodies.h"

#include <algorithm>

namespace soak {

namespace {

constexpr char kUrlEncodedType[] = "application/x-www-form-urlencoded";

const char* const kAsciiNames[] = {"a", "b", "name", "field_1", "x9", "upload", "note"};
const char* const kAnsiNames[] = {"caf\xE9", "\xC4rger"};  // Windows-1252 letters
const char* const kUtf8Names[] = {"caf\xC3\xA9", "\xE5\x90\x8D\xE5\x89\x8D", "\xD0\xB6", "\xF0\x9F\x98\x80"};
const char* const kContentTypes[] = {"text/plain", "application/octet-stream", "image/png", "text/html; charset=utf-8"};

std::string Hex(uint64_t n, int digits) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < digits; ++i, n >>= 4) text += kDigits[n & 15];
    return text;
}

// One code point of two to four bytes of UTF-8, never a surrogate.
std::string Utf8Letter(uint32_t pick) {
    const uint32_t code = pick % 3 == 0 ? 0xA0 + pick % 0x700 : pick % 3 == 1 ? 0x4E00 + pick % 0x5000 : 0x1F600 + pick % 0x50;
    std::string out;
    if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (code & 0x3F));
    return out;
}

// A boundary ending in a quote mark, which generated text never holds, so
// that no value can complete the delimiter even by chance.
std::string Boundary(uint64_t pick) { return "soak" + Hex(pick, 12) + "'"; }

std::string PartHead(const std::string& boundary, const std::string& name) {
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"";
}

void AppendPercentEscape(std::string& out, unsigned char byte, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    out += '%';
    out += digits[byte >> 4];
    out += digits[byte & 15];
}

bool Unreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '*';
}

// A decoded pair's name or value loses spaces, tabs and line breaks at its ends.
std::string TrimmedPairText(const std::string& text) {
    const size_t first = text.find_first_not_of(" \r\n\t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \r\n\t") - first + 1);
}

}  // namespace

void AddValue(Expected& expected, const std::string& name, std::string value) {
    auto field = std::find_if(expected.form.begin(), expected.form.end(), [&](const auto& f) { return f.first == name; });
    if (field == expected.form.end()) field = expected.form.insert(expected.form.end(), {name, {}});
    field->second.push_back(std::move(value));
}

BodyGenerator::BodyGenerator(uint64_t seed, std::vector<CorpusEntry> corpus)
    : random_(seed), corpus_(std::move(corpus)) {}

SoakCase BodyGenerator::Next(bool utf8) {
    const uint32_t pick = Below(100);
    if (pick < 45) return WellFormed(utf8, 1);
    if (pick < 55) return WellFormed(utf8, 2 + Below(2));
    if (pick < 70) return Truncated(utf8);
    if (pick < 78) return Hostile();
    return Mutated();
}

SoakCase BodyGenerator::WellFormed(bool utf8, int requests) {
    SoakCase c{"well-formed", {}, Expected{}};
    for (int i = 0; i < requests; ++i)
        c.requests.push_back(Below(10) < 7 ? Multipart(utf8, *c.expected) : UrlEncoded(utf8, *c.expected));
    return c;
}

SoakCase BodyGenerator::Truncated(bool utf8) {
    Expected unused;
    SoakRequest request = Below(10) < 7 ? Multipart(utf8, unused) : UrlEncoded(utf8, unused);
    request.body.resize(Below(static_cast<uint32_t>(request.body.size()) + 1));
    return SoakCase{"truncated", {std::move(request)}, std::nullopt};
}

std::string BodyGenerator::Name(bool utf8) {
    const uint32_t pick = Below(10);
    if (pick < 7) return kAsciiNames[Below(std::size(kAsciiNames))];
    return utf8 ? kUtf8Names[Below(std::size(kUtf8Names))] : kAnsiNames[Below(std::size(kAnsiNames))];
}

// Text of about `length` bytes: letters, spaces, line breaks, letters above
// ASCII, and pieces of the delimiter that stop short of it.
std::string BodyGenerator::Text(bool utf8, size_t length, const std::string& boundary) {
    std::string text;
    while (text.size() < length) {
        const uint32_t pick = Below(20);
        if (pick < 12) {
            const char printable = static_cast<char>(' ' + Below(95));
            text += printable == '\'' ? '"' : printable;
        } else if (pick < 14) {
            text += "\r\n";
        } else if (pick < 16 && !boundary.empty()) {
            text += "\r\n--" + boundary.substr(0, Below(static_cast<uint32_t>(boundary.size())));
        } else if (utf8) {
            text += Utf8Letter(Below(1u << 20));
        } else {
            text += static_cast<char>(0x80 + Below(0x80));
        }
    }
    return text;
}

std::string BodyGenerator::FileBytes() {
    const uint32_t pick = Below(100);
    const uint32_t size = pick < 10 ? 0 : pick < 70 ? 1 + Below(4096) : pick < 95 ? 4096 + Below(256 << 10) : Below(2 << 20);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random_() & 0xFF);
    return bytes;
}

SoakRequest BodyGenerator::Multipart(bool utf8, Expected& expected) {
    const std::string boundary = Boundary(random_());
    SoakRequest request{"multipart/form-data; boundary=" + boundary, {}};
    const uint32_t parts = Below(8);
    for (uint32_t i = 0; i < parts; ++i) {
        const std::string name = Name(utf8);
        request.body += PartHead(boundary, name);
        if (Below(10) < 7) {
            const std::string value = Text(utf8, Below(10) == 0 ? Below(5000) : Below(200), boundary);
            request.body += "\r\n\r\n" + value + "\r\n";
            AddValue(expected, name, value);
        } else {
            static const char* const kFolders[] = {"", "C:\\up\\", "/home/someone/", "D:", "..\\"};
            ExpectedFile file{name, kFolders[Below(std::size(kFolders))] + Name(utf8) + "." + Hex(Below(4096), 3), "",
                              FileBytes()};
            if (Below(3) != 0) file.contentType = kContentTypes[Below(std::size(kContentTypes))];
            request.body += "; filename=\"" + file.userPath + "\"\r\n";
            if (!file.contentType.empty()) request.body += "Content-Type: " + file.contentType + "\r\n";
            request.body += "\r\n" + file.bytes + "\r\n";
            AddValue(expected, name, file.userPath);  // Form holds a file's path under its field
            expected.files.push_back(std::move(file));
        }
        ++expected.values;
    }
    request.body += "--" + boundary + "--\r\n";
    return request;
}

SoakRequest BodyGenerator::UrlEncoded(bool utf8, Expected& expected) {
    SoakRequest request{kUrlEncodedType, {}};
    const uint32_t pairs = Below(10);
    for (uint32_t i = 0; i < pairs; ++i) {
        const std::string name = Name(utf8);
        const std::string value = Text(utf8, Below(100), "") + (Below(4) == 0 ? "&=+%" : "");
        if (i > 0) request.body += '&';
        for (unsigned char c : name) {
            if (c < 0x80) request.body += static_cast<char>(c);
            else AppendPercentEscape(request.body, c, Below(2) == 0);
        }
        request.body += '=';
        for (unsigned char c : value) {
            if (c == ' ' && Below(2) == 0) request.body += '+';
            else if (Unreserved(c) && Below(5) != 0) request.body += static_cast<char>(c);
            else AppendPercentEscape(request.body, c, Below(2) == 0);
        }
        AddValue(expected, name, TrimmedPairText(value));
        ++expected.values;
    }
    return request;
}

// Shapes that stress the parser's bookkeeping rather than its grammar.
SoakCase BodyGenerator::Hostile() {
    const std::string boundary = Boundary(random_());
    const std::string multipart = "multipart/form-data; boundary=" + boundary;
    switch (Below(5)) {
    case 0: {  // thousands of tiny text parts under two names
        SoakCase c{"hostile: many parts", {{multipart, {}}}, Expected{}};
        const uint32_t parts = 1000 + Below(3000);
        for (uint32_t i = 0; i < parts; ++i) {
            const std::string name = i % 2 ? "a" : "b", value = Hex(i, 2);
            c.requests[0].body += PartHead(boundary, name) + "\r\n\r\n" + value + "\r\n";
            AddValue(*c.expected, name, value);
            ++c.expected->values;
        }
        c.requests[0].body += "--" + boundary + "--\r\n";
        return c;
    }
    case 1: {  // tens of thousands of empty pairs
        SoakCase c{"hostile: many pairs", {{kUrlEncodedType, {}}}, Expected{}};
        const uint32_t pairs = 5000 + Below(20000);
        for (uint32_t i = 0; i < pairs; ++i) {
            c.requests[0].body += i % 3 ? "a=&" : "b=&";
            AddValue(*c.expected, i % 3 ? "a" : "b", "");
            ++c.expected->values;
        }
        return c;
    }
    case 2: {  // a header line and a file name of 100 KB
        const std::string path(100000 + Below(1000), '\\');
        return SoakCase{"hostile: long header", {{multipart, PartHead(boundary, "f") + "; filename=\"" + path + "x\"\r\n\r\nx\r\n--" + boundary + "--\r\n"}}, std::nullopt};
    }
    case 3: {  // delimiters without content, over and over
        std::string body;
        const uint32_t n = 1000 + Below(5000);
        for (uint32_t i = 0; i < n; ++i) body += "\r\n--" + boundary + (i % 7 ? "\r\n" : "--");
        return SoakCase{"hostile: bare delimiters", {{multipart, body}}, std::nullopt};
    }
    default: {  // a value made of near misses only
        SoakCase c{"hostile: near misses", {{multipart, {}}}, Expected{}};
        std::string value;
        while (value.size() < 100000) value += "\r\n--" + boundary.substr(0, Below(static_cast<uint32_t>(boundary.size())));
        c.requests[0].body = PartHead(boundary, "n") + "\r\n\r\n" + value + "\r\n--" + boundary + "--";
        AddValue(*c.expected, "n", value);
        c.expected->values = 1;
        return c;
    }
    }
}

// Byte flips, cuts, copies from another input and inserted delimiters.
void BodyGenerator::Mutate(std::string& body) {
    const uint32_t size = static_cast<uint32_t>(body.size());
    switch (Below(5)) {
    case 0:
        for (uint32_t i = 1 + Below(8); i > 0 && size > 0; --i) body[Below(size)] ^= static_cast<char>(1 + Below(255));
        break;
    case 1:
        body.resize(Below(size + 1));
        break;
    case 2: {
        const CorpusEntry& other = corpus_[Below(static_cast<uint32_t>(corpus_.size()))];
        const uint32_t from = Below(static_cast<uint32_t>(other.body.size()) + 1);
        body.insert(Below(size + 1), other.body.substr(from, Below(4096)));
        break;
    }
    case 3: {
        const uint32_t from = Below(size + 1);
        body.insert(Below(size + 1), body.substr(from, Below(size - from + 1)));
        break;
    }
    default:
        body.insert(Below(size + 1), Below(2) ? "\r\n--" : "--\r\n\r\n");
        break;
    }
}

SoakCase BodyGenerator::Mutated() {
    if (corpus_.empty()) return Truncated(false);
    CorpusEntry entry = corpus_[Below(static_cast<uint32_t>(corpus_.size()))];
    for (uint32_t i = 1 + Below(4); i > 0; --i) Mutate(entry.body);
    if (Below(20) == 0) entry.contentType = Below(2) ? kUrlEncodedType : "multipart/form-data; boundary=";
    return SoakCase{"mutated fuzz input", {{entry.contentType, entry.body}}, std::nullopt};
}

}  // namespace soak
