#include <cstring>

#include "support/InputBuffer.h"
#include "parse/PostDataParser.h"

namespace qor {

namespace {
// Blanks skipped before a pair, and the blanks around a name or a value.
constexpr const char* kPairLeadBlanks = " \t,";

inline bool IsPairBlank(char c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t'; }

// Removes the pair blanks (space, CR, LF, tab) at both ends of text.
void TrimPairBlanks(ByteString& text) {
    char* p = text.MutableText();
    uint32_t end = text.Length();
    while (end != 0 && IsPairBlank(p[end - 1])) --end;
    uint32_t begin = 0;
    while (begin < end && IsPairBlank(p[begin])) ++begin;
    if (begin == 0 && end == text.Length()) return;
    std::memmove(p, p + begin, end - begin);
    p[end - begin] = 0;
    text.SetLength(end - begin);
}

// Hex digit values; 0xFF marks every other byte.
struct HexTable {
    unsigned char value[256];
    constexpr HexTable() : value() {
        for (int c = 0; c < 256; ++c) value[c] = 0xFF;
        for (int c = '0'; c <= '9'; ++c) value[c] = static_cast<unsigned char>(c - '0');
        for (int c = 'a'; c <= 'f'; ++c) value[c] = static_cast<unsigned char>(c - 'a' + 10);
        for (int c = 'A'; c <= 'F'; ++c) value[c] = static_cast<unsigned char>(c - 'A' + 10);
    }
};
constexpr HexTable kHex;

inline unsigned char HexPair(const char* digits) {
    const unsigned char high = kHex.value[static_cast<unsigned char>(digits[0])];
    if (high == 0xFF) return 0;  // the second character is not read
    const unsigned char low = kHex.value[static_cast<unsigned char>(digits[1])];
    if (low == 0xFF) return 0;
    return static_cast<unsigned char>(high * 16 + low);
}

// The byte of the escape at p ("%" and up to two digits before end), or 0
// when it is no escape: a digit beyond end counts as none, as the NUL after
// a text does.
inline unsigned char EscapeAt(const char* p, const char* end) {
    if (end - p >= 3) return HexPair(p + 1);
    const char digits[2] = {end - p == 2 ? p[1] : '\0', '\0'};
    return HexPair(digits);
}

// Decodes [begin, end) straight into out ("+" becomes a space, %XX the byte
// it names; a malformed escape or %00 stays as written, so a decoded text
// never holds a NUL), then trims the pair blanks at both ends. Decoding never lengthens,
// so out needs room for end - begin bytes only. A byte at a time: escapes
// stand every few bytes in real values, and this loop's branches follow
// them better than a vector search that stops at each one.
void DecodeInto(ByteString& out, const char* begin, const char* end) {
    const uint32_t size = static_cast<uint32_t>(end - begin);
    out.Clear();
    if (size == 0) return;
    if (size > out.Capacity()) out.AppendBytes(begin, size);  // grows; overwritten below
    char* o = out.MutableText();
    for (const char* p = begin; p < end; ++p) {
        char c = *p;
        if (c == '+') {
            c = ' ';
        } else if (c == '%') {
            if (const unsigned char decoded = EscapeAt(p, end)) {
                c = static_cast<char>(decoded);
                p += 2;
            }
        }
        *o++ = c;
    }
    *o = 0;
    out.SetLength(static_cast<uint32_t>(o - out.MutableText()));
    TrimPairBlanks(out);
}

}  // namespace

// The body is one NUL-terminated text cut into pairs at "&". Each pair is
// handled where it lies in the reader's run; only a pair that a run boundary
// cuts is gathered in `line` first. A NUL ends the text, so the bytes after
// it are read but take no part.
void PostDataParser::ParseUrlEncoded(InputBuffer& input, ByteString& line) {
    line.Clear();
    ByteString name, value;
    bool ended = false;
    const unsigned char* run = nullptr;
    while (const uint32_t n = input.GetRun(run, UINT32_MAX)) {
        if (ended) continue;
        const char* p = reinterpret_cast<const char*>(run);
        const char* end = p + n;
        if (const void* nul = std::memchr(p, 0, n)) {
            end = static_cast<const char*>(nul);
            ended = true;
        }
        for (const char* amp; p < end && (amp = static_cast<const char*>(std::memchr(p, '&', end - p))); p = amp + 1) {
            if (line.Length() == 0) {
                AddPair(p, amp, name, value);
                continue;
            }
            line.AppendBytes(p, static_cast<uint32_t>(amp - p));
            AddPair(line.Text(), line.Text() + line.Length(), name, value);
            line.Clear();
        }
        if (p < end) line.AppendBytes(p, static_cast<uint32_t>(end - p));
    }
    // After the last "&" only a pair with something besides blanks counts; an
    // empty body, or one of blanks alone, has no pairs at all.
    if (std::strspn(line.Text(), kPairLeadBlanks) != line.Length())
        AddPair(line.Text(), line.Text() + line.Length(), name, value);
}

// One pair, [text, end): blanks (space, tab, comma) before it skipped; the
// name runs up to the first "=", the value from after it up to the second.
// Both are decoded, then trimmed, so blanks made by decoding go too at the
// ends.
void PostDataParser::AddPair(const char* text, const char* end, ByteString& name, ByteString& value) {
    CountPart();
    const char* pair = text;
    while (pair < end && (*pair == ' ' || *pair == '\t' || *pair == ',')) ++pair;
    const char* equals = static_cast<const char*>(std::memchr(pair, '=', end - pair));
    const char* nameEnd = equals ? equals : end;
    const char* valueBegin = equals ? equals + 1 : end;
    const char* valueEnd = static_cast<const char*>(std::memchr(valueBegin, '=', end - valueBegin));
    if (valueEnd == nullptr) valueEnd = end;

    DecodeInto(name, pair, nameEnd);
    DecodeInto(value, valueBegin, valueEnd);
    AddValue(name, KeepText(value));
}

}  // namespace qor
