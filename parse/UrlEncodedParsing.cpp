#include <cstring>

#include "InputBuffer.h"
#include "PostDataParser.h"
#include "TokenSplitter.h"

namespace {
constexpr const char* kPairBlanks = " \r\n\t";

const char* SkipPairBlanks(const char* p, const char* end) {
    while (p < end && (*p == ' ' || *p == '\r' || *p == '\n' || *p == '\t')) ++p;
    return p;
}

inline int HexDigitValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

unsigned char PostDataParser::HexPairValue(const char* digits) {
    const int high = HexDigitValue(static_cast<unsigned char>(digits[0]));
    if (high < 0) return 0;
    const int low = HexDigitValue(static_cast<unsigned char>(digits[1]));
    if (low < 0) return 0;
    return static_cast<unsigned char>(high * 16 + low);
}

void PostDataParser::UrlDecode(ByteString& text) {
    // Decoding never lengthens the text, so it can run in place: the write
    // position never passes the read position.
    char* p = text.MutableText();
    // Everything before the first "+" or "%" stays as it is.
    uint32_t out = static_cast<uint32_t>(std::strcspn(p, "+%"));
    for (uint32_t in = out; p[in] != 0; ++in) {
        char c = p[in];
        if (c == '+') {
            c = ' ';
        } else if (c == '%') {
            if (const unsigned char decoded = HexPairValue(p + in + 1)) {
                c = static_cast<char>(decoded);
                in += 2;
            }
        }
        p[out++] = c;
    }
    if (out != text.Length()) {
        p[out] = 0;
        text.SetLength(out);
    }
}

void PostDataParser::ParseUrlEncoded(InputBuffer& input) {
    body = &input;
    line.Clear();
    const unsigned char* run = nullptr;
    while (const uint32_t n = input.GetRun(run, UINT32_MAX)) line.AppendBytes(reinterpret_cast<const char*>(run), n);

    ByteString name, value;
    TokenSplitter pairs(line, "&");
    TokenSplitter trim(name, "=", kPairBlanks);
    const uint32_t count = pairs.TokenCount(0);
    // Each pair starts right after the delimiter that ended the one before:
    // the same tokens as numbering them from the start, in one forward pass.
    uint32_t start = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t pairBegin = 0;
        const uint32_t pairEnd = pairs.Locate(0, start, pairBegin);
        const char* text = line.Text();
        start = text[pairEnd] != 0 ? pairEnd + 1 : pairEnd;

        // Split the pair where it lies, as tokens 0 and 1 at "=" with the
        // pair blanks: the name runs up to the first "=", the value from
        // after it up to the second.
        const char* pair = text + pairBegin;
        const char* end = text + pairEnd;
        const char* equals = static_cast<const char*>(std::memchr(pair, '=', end - pair));
        const char* nameBegin = SkipPairBlanks(pair, end);
        const char* nameEnd = equals ? equals : end;
        const char* valueBegin = equals ? SkipPairBlanks(equals + 1, end) : end;
        const char* valueEnd = static_cast<const char*>(std::memchr(valueBegin, '=', end - valueBegin));
        if (valueEnd == nullptr) valueEnd = end;

        name.Clear();
        name.AppendBytes(nameBegin, static_cast<uint32_t>(nameEnd - nameBegin));
        value.Clear();
        value.AppendBytes(valueBegin, static_cast<uint32_t>(valueEnd - valueBegin));
        UrlDecode(name);
        UrlDecode(value);
        trim.SetTarget(name);
        trim.TrimLeft();
        trim.TrimRight();
        trim.SetTarget(value);
        trim.TrimLeft();
        trim.TrimRight();

        curField = FindField(name);
        if (curField < 0) {
            fields.Emplace(name, value);
            index_.AddMissed(fields);
        } else {
            fields[static_cast<uint32_t>(curField)].values.Append(value);
        }
    }
}
