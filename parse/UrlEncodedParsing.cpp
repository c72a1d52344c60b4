#include "InputBuffer.h"
#include "PostDataParser.h"
#include "TokenSplitter.h"

namespace {
constexpr const char* kPairBlanks = " \r\n\t";

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
    uint32_t out = 0;
    for (uint32_t in = 0; p[in] != 0; ++in) {
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

    ByteString pair, name, value;
    TokenSplitter pairs(line, "&");
    TokenSplitter nameValue(pair, "=", kPairBlanks);
    const uint32_t count = pairs.TokenCount(0);
    // Each pair starts right after the delimiter that ended the one before:
    // the same tokens as numbering them from the start, in one forward pass.
    uint32_t start = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t stop = pairs.Token(pair, 0, start);
        start = line.Text()[stop] != 0 ? stop + 1 : stop;

        nameValue.SetTarget(pair);
        nameValue.Token(name, 0, 0);
        nameValue.Token(value, 1, 0);
        UrlDecode(name);
        UrlDecode(value);
        nameValue.SetTarget(name);
        nameValue.TrimLeft();
        nameValue.TrimRight();
        nameValue.SetTarget(value);
        nameValue.TrimLeft();
        nameValue.TrimRight();

        curField = FindField(name);
        if (curField < 0) {
            fields.Emplace(name, value);
        } else {
            fields[static_cast<uint32_t>(curField)].values.Append(value);
        }
    }
}
