#include <cstring>
#include <memory>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "InputBuffer.h"
#include "PostDataParser.h"
#include "RuntimeFiles.h"
#include "TokenSplitter.h"
#include "XFile.h"

namespace {

constexpr const char* kParameterBlanks = " \t\"";
constexpr const char kDisposition[] = "CONTENT-DISPOSITION";
constexpr uint32_t kDispositionLength = sizeof kDisposition - 1;
const unsigned char kHyphen = '-';

// Part sinks: where CopyPartData hands a part's data, a run at a time.

// A text part: the bytes go into the field value being filled.
struct AppendToValue {
    ByteString& value;
    void Put(const unsigned char* bytes, uint32_t count) {
        if (count == 1) return value.PushChar(static_cast<char>(*bytes));
        value.AppendBytes(reinterpret_cast<const char*>(bytes), count);
    }
};

// A file part: the bytes go into the temporary file's put buffer and count
// in the record's size. A run is split where the buffer fills, so the file
// sees the same writes as byte-wise PutByte, and when a write fails the size
// counts the bytes up to the one whose arrival triggered it, as byte-wise.
struct AppendToFile {
    XFile& writer;
    int32_t& size;
    void Put(const unsigned char* bytes, uint32_t count) {
        const uint32_t capacity = writer.PutBufferSize();
        while (count != 0) {
            const uint32_t room = capacity - writer.Pending();
            if (room == 0) {  // the next byte hands the full buffer on
                Add(1);
                writer.PutByte(*bytes++);
                --count;
                continue;
            }
            const uint32_t n = count < room ? count : room;
            Add(n);
            writer.PutBytes(bytes, n);
            bytes += n;
            count -= n;
        }
    }
    // Unsigned arithmetic: a size beyond 31 bits wraps instead of overflowing.
    void Add(uint32_t n) { size = static_cast<int32_t>(static_cast<uint32_t>(size) + n); }
};

// A file input left blank: the data is read and dropped.
struct SkipByte {
    void Put(const unsigned char*, uint32_t) {}
};

// The first index from `from` on where a CR stands that is followed by LF or
// by the end of the run: where a delimiter may begin. Any other CR is data.
// Data holds a CR every 256 bytes on average but a CR LF only every 64 KiB,
// so looking for the pair skips nearly all stops a search for CR would make.
inline uint32_t FindCrLf(const unsigned char* run, uint32_t from, uint32_t n) {
    uint32_t p = from;
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const auto pairs = [&](uint32_t at) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(run + at));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(run + at + 1));
        return _mm_and_si128(_mm_cmpeq_epi8(here, cr), _mm_cmpeq_epi8(next, lf));
    };
    const auto anyIn64 = [&](uint32_t at) {
        const __m128i low = _mm_or_si128(pairs(at), pairs(at + 16));
        const __m128i high = _mm_or_si128(pairs(at + 32), pairs(at + 48));
        return _mm_movemask_epi8(_mm_or_si128(low, high)) != 0;
    };
    // 16 bytes a step while byte p + 16 is in the run (each step reads one
    // byte beyond its 16): data full of line breaks finds one soon. Past the
    // first step, long stretches go 64 bytes a step.
    while (n - p > 16) {
        const int mask = _mm_movemask_epi8(pairs(p));
        if (mask != 0) return p + static_cast<uint32_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        p += 16;
        while (n - p > 64 && !anyIn64(p)) p += 64;
    }
#endif
    for (; p < n; ++p) {
        if (run[p] == '\r' && (p + 1 == n || run[p + 1] == '\n')) return p;
    }
    return n;
}

// How many leading bytes of text (available bytes) equal the first bytes of
// delim (length bytes): eight bytes a step, then byte by byte.
inline uint32_t MatchedPrefix(const unsigned char* text, uint32_t available, const unsigned char* delim,
                              uint32_t length) {
    const uint32_t limit = available < length ? available : length;
    uint32_t m = 0;
    for (; m + 8 <= limit; m += 8) {
        uint64_t a, b;
        std::memcpy(&a, text + m, 8);
        std::memcpy(&b, delim + m, 8);
        if (a != b) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            return m + static_cast<uint32_t>(__builtin_ctzll(a ^ b)) / 8;
#else
            break;
#endif
        }
    }
    while (m < limit && text[m] == delim[m]) ++m;
    return m;
}

// The next run of body bytes to examine: the get buffer's waiting bytes, or
// one byte when reading is unbuffered. Runs taken with Peek are consumed by
// Take, once the caller knows how many bytes it used.
class BodyRuns {
public:
    explicit BodyRuns(InputBuffer& body) : body_(body) {}

    // 0 at the end of the body.
    uint32_t Next(const unsigned char*& run) {
        uint32_t n = body_.PeekRun(run);
        peeked_ = n != 0;
        if (peeked_ || !body_.Good()) return n;
        if (!body_.GetByte(single_).Good()) return 0;
        run = &single_;
        return 1;
    }
    void Take(uint32_t count) {
        if (peeked_) body_.Consume(count);
    }

private:
    InputBuffer& body_;
    bool peeked_ = false;
    unsigned char single_ = 0;
};

// How a header line stands towards Content-Disposition, as far as a quick
// look at its first bytes can tell.
enum class HeaderShape {
    Other,        // certainly another header, or no header at all
    Disposition,  // the name, then the colon at kDispositionLength, then more
    Unsure,       // leading blanks, or a NUL where the colon would be
};

// The splitter's header name is the text from the first non-blank up to the
// first ":" or NUL, and it counts only when something follows that stop. A
// line that starts with a non-blank therefore names Content-Disposition
// exactly when its first 19 bytes spell it, letters in either case, and a
// colon follows with more after it; any other first 19 bytes, or a 20th byte
// that is neither ":" nor NUL, make it another header. Only a leading blank
// or a NUL in the colon's place needs the splitter.
HeaderShape LookAtHeader(const ByteString& line) {
    // The name, the colon and one more byte.
    if (line.Length() <= kDispositionLength + 1) return HeaderShape::Other;
    const char* text = line.Text();
    if (text[0] == ' ' || text[0] == '\t' || text[0] == ',') return HeaderShape::Unsure;
    // Three overlapping words cover the name's 19 bytes. Setting bit 5 turns
    // an upper-case letter into its lower case, and no other byte into a
    // lower-case letter; the hyphen's byte is compared as it stands.
    static constexpr char kLower[] = "content-disposition";
    static constexpr char kFold[] = "\x20\x20\x20\x20\x20\x20\x20\x00\x20\x20\x20\x20\x20\x20\x20\x20\x20\x20\x20";
    uint64_t folded = 0;
    for (const uint32_t at : {0u, 8u, kDispositionLength - 8}) {
        uint64_t word, fold, lower;
        std::memcpy(&word, text + at, 8);
        std::memcpy(&fold, kFold + at, 8);
        std::memcpy(&lower, kLower + at, 8);
        folded |= (word | fold) ^ lower;
    }
    if (folded != 0) return HeaderShape::Other;
    if (text[kDispositionLength] == ':') return HeaderShape::Disposition;
    return text[kDispositionLength] == 0 ? HeaderShape::Unsure : HeaderShape::Other;
}

// Index of the first CR or LF in bytes[from, n), or n. Eight bytes are
// tested at a time for either (a byte equal to one of them leaves a zero
// byte after the XOR); the byte loop then finds which.
uint32_t FindLineBreak(const unsigned char* bytes, uint32_t from, uint32_t n) {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHighs = 0x8080808080808080ull;
    uint32_t i = from;
    for (; n - i >= 8; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        const uint64_t cr = word ^ (kOnes * '\r');
        const uint64_t lf = word ^ (kOnes * '\n');
        if ((((cr - kOnes) & ~cr) | ((lf - kOnes) & ~lf)) & kHighs) break;
    }
    for (; i < n; ++i)
        if (bytes[i] == '\r' || bytes[i] == '\n') return i;
    return n;
}

// Appends to the line in place while it has room, which is what AppendBytes
// would do, without the call.
void AppendToLine(ByteString& line, const unsigned char* bytes, uint32_t count) {
    const uint32_t length = line.Length();
    if (count == 0) return;
    if (count > line.Capacity() - length) return line.AppendBytes(reinterpret_cast<const char*>(bytes), count);
    char* text = line.MutableText();
    std::memcpy(text + length, bytes, count);
    text[length + count] = 0;
    line.SetLength(length + count);
}

// Byte classes of a Content-Disposition line's parameters, one table lookup
// per byte. NUL ends the parameter and its name, as the end of the text.
enum : uint8_t {
    kParameterEnd = 1,   // ";" and NUL
    kNameEnd = 2,        // "=", ";" and NUL: also ends a value
    kLeadingBlank = 4,   // space, tab, comma: skipped before a parameter
    kParameterBlank = 8  // space, tab, double quote: around names and values
};
constexpr struct ParameterClasses {
    uint8_t of[256] = {};
    constexpr ParameterClasses() {
        of[0] = of[';'] = kParameterEnd | kNameEnd;
        of['='] = kNameEnd;
        of[','] = kLeadingBlank;
        of[' '] = of['\t'] = kLeadingBlank | kParameterBlank;
        of['"'] = kParameterBlank;
    }
    bool Is(char c, uint8_t cls) const { return (of[static_cast<unsigned char>(c)] & cls) != 0; }
} kParameterClasses;

}  // namespace

struct PostDataParser::PartScratch {
    explicit PartScratch(ByteString& line)
        : headerSplit(line, ":"), parameterSplit(line, ";"), nameValue(parameter, "=", kParameterBlanks) {}

    // A header line through the splitters: any shape.
    void ReadHeaderLine(const ByteString& line);
    // The parameters of a Content-Disposition line, from just after its
    // colon to the line's first NUL, read in place with the same tokens as
    // the splitters give.
    void ReadDisposition(const char* parameters);

    // What the header block said so far.
    ByteString fieldName, fileName;
    bool isFile = false;

    ByteString header, parameter, parameterName, parameterValue;
    // CR LF and the delimiter, in one piece: a near miss releases a prefix.
    ByteString held;
    TokenSplitter headerSplit;     // a header line, at ":"
    TokenSplitter parameterSplit;  // the rest of the line after the colon, at ";"
    TokenSplitter nameValue;       // one parameter at "="; also upper-cases the header name
};

void PostDataParser::PartScratch::ReadHeaderLine(const ByteString& line) {
    const uint32_t colon = headerSplit.Token(header, 0, 0);
    // Only a header name with something after its colon counts; blanks
    // before the colon make it a different name.
    // (A token holds no NUL, so its length tells a name that cannot match.)
    if (colon + 1 >= line.Length() || header.Length() != kDispositionLength) return;
    nameValue.SetTarget(header);
    nameValue.ToUpper();
    if (!header.Equals(kDisposition)) return;
    isFile = false;
    fileName.Clear();
    // The parameters after the colon, split at ";" in place. Each starts
    // right after the ";" that ended the one before, which gives the same
    // tokens as numbering them from the colon; an empty parameter changes
    // nothing, so no count is needed.
    for (uint32_t start = colon + 1;;) {
        const uint32_t stop = parameterSplit.Token(parameter, 0, start);
        nameValue.SetTarget(parameter);
        nameValue.Token(parameterName, 0, 0);
        // Only two parameter names are used; the rest (and the disposition
        // type) need no value.
        const bool isName = parameterName.Equals("name");
        if (isName || parameterName.Equals("filename")) {
            nameValue.Token(parameterValue, 1, 0);
            nameValue.SetTarget(parameterValue);
            nameValue.TrimLeft();
            nameValue.TrimRight();
            if (isName) {
                fieldName.Assign(parameterValue);
            } else {
                isFile = true;
                fileName.Assign(parameterValue);
            }
        }
        if (line.Text()[stop] == 0) break;
        start = stop + 1;
    }
}

void PostDataParser::PartScratch::ReadDisposition(const char* p) {
    const ParameterClasses& c = kParameterClasses;
    isFile = false;
    fileName.Clear();
    for (;;) {
        // A parameter: after spaces, tabs and commas, up to ";" or the NUL.
        // Its name: after spaces, tabs and quotes, up to "=" or the end.
        while (c.Is(*p, kLeadingBlank)) ++p;
        while (c.Is(*p, kParameterBlank)) ++p;
        const char* name = p;
        while (!c.Is(*p, kNameEnd)) ++p;
        const size_t nameLength = static_cast<size_t>(p - name);
        const bool isName = nameLength == 4 && std::memcmp(name, "name", 4) == 0;
        if (isName || (nameLength == 8 && std::memcmp(name, "filename", 8) == 0)) {
            // The value: after the "=", spaces, tabs and quotes, up to the
            // next "=" or the end, less trailing spaces, tabs and quotes.
            const char* value = p;
            if (*p == '=') {
                ++p;
                while (c.Is(*p, kParameterBlank)) ++p;
                value = p;
                while (!c.Is(*p, kNameEnd)) ++p;
            }
            const char* end = p;
            while (end != value && c.Is(end[-1], kParameterBlank)) --end;
            ByteString& target = isName ? fieldName : fileName;
            target.Clear();
            target.AppendBytes(value, static_cast<uint32_t>(end - value));
            if (!isName) isFile = true;
        }
        while (!c.Is(*p, kParameterEnd)) ++p;
        if (*p == 0) return;
        ++p;
    }
}

void PostDataParser::PartScratchDeleter::operator()(PartScratch* scratch) const { delete scratch; }

PostDataParser::PartScratch& PostDataParser::Scratch() {
    if (scratch_ == nullptr) scratch_.reset(new PartScratch(line));
    return *scratch_;
}

void PostDataParser::ParseMultipart() {
    if (!ReadLine()) return;
    // Anything before or after the delimiter on the first line (blanks
    // included) leaves the whole body unparsed.
    if (!line.Equals(delimiter)) return;
    while (ParsePart()) {
    }
    line.Clear();
}

bool PostDataParser::ReadLine() {
    line.Clear();
    BodyRuns runs(*body);
    const unsigned char* run = nullptr;
    while (const uint32_t n = runs.Next(run)) {
        for (uint32_t from = 0;;) {
            const uint32_t stop = FindLineBreak(run, from, n);
            AppendToLine(line, run + from, stop - from);
            if (stop == n) break;
            if (run[stop] == '\n') {
                runs.Take(stop + 1);
                return true;
            }
            from = stop + 1;  // CR is dropped wherever it stands in the line
        }
        runs.Take(n);
    }
    return false;
}

bool PostDataParser::ParsePart() {
    PartScratch& scratch = Scratch();
    scratch.fieldName.Clear();
    scratch.fileName.Clear();
    scratch.isFile = false;

    bool more = ReadLine();
    while (more && line.Length() != 0) {
        switch (LookAtHeader(line)) {
        case HeaderShape::Other: break;
        case HeaderShape::Disposition: scratch.ReadDisposition(line.Text() + kDispositionLength + 1); break;
        case HeaderShape::Unsure: scratch.ReadHeaderLine(line); break;
        }
        more = ReadLine();
    }
    ByteString& fieldName = scratch.fieldName;
    ByteString& fileName = scratch.fileName;
    const bool isFile = scratch.isFile;

    // The end of the body, an empty header block, or a part without a name:
    // its data is not consumed and no later part is read.
    if (fieldName.Length() == 0) return false;

    if (!isFile) {
        static const ByteString empty;
        AddValue(fieldName, empty);
        AppendToValue sink{fields[static_cast<uint32_t>(curField)].values[static_cast<uint32_t>(curValue)]};
        CopyPartData(sink);
    } else if (fileName.Length() == 0) {
        SkipByte sink;
        CopyPartData(sink);
    } else {
        StoreFilePart(fieldName, fileName);
    }
    return true;
}

void PostDataParser::StoreFilePart(const ByteString& fieldName, const ByteString& fileName) {
    UploadedFile record;
    record.fieldName.Assign(fieldName);
    record.userPath.Assign(fileName);
    // Creating the file is the last step that may fail before anything of the
    // part is stored; from the append on, the record owns the file and the
    // parser's destruction deletes it.
    auto writer = std::make_unique<XFile>(XFile::NewTemporary{}, record.tmpPath, kFileBufferSize);
    try {
        files.Append(record);
    } catch (...) {
        writer.reset();
        rt::Unlink(record.tmpPath.Text());
        throw;
    }
    int32_t& size = files.Last().size;
    // An alarm from here on destroys the writer on its way out, which closes
    // the file and ignores the writer's own errors.
    AddValue(fieldName, fileName);
    AppendToFile sink{*writer, size};
    CopyPartData(sink);
    writer->Close();
}

void PostDataParser::AddValue(const ByteString& name, const ByteString& value) {
    curField = FindField(name);
    if (curField < 0) {
        curField = static_cast<int32_t>(fields.Count());
        curValue = 0;
        fields.Emplace(name, value);
        index_.AddMissed(fields);  // the new field goes where the lookup missed
        return;
    }
    NoteGrowth(static_cast<uint32_t>(curField));
    ByteStringList& values = fields[static_cast<uint32_t>(curField)].values;
    curValue = static_cast<int32_t>(values.Count());
    if (value.Length() == 0)
        values.Append(ByteString::WithoutStorage());  // grows as the part's data arrives
    else
        values.Append(value);
}

// Delimiter recognition, one byte at a time through six states; only the data
// state skips ahead, to the next CR. The sink receives exactly the bytes that
// byte-wise passing would give, in the same order, but in slices: examined
// data accumulates as run[pending, i) and goes on when the run ends or a
// delimiter begins. Held-back bytes (CR LF and a delimiter prefix) that turn
// out to be data are already in that slice when they arrived in this run;
// when they began in an earlier run they equal `held` and go on from there.
template <typename Sink>
int PostDataParser::CopyPartData(Sink& sink) {
    enum State { Data, AfterCr, Matching, DelimiterSeen, AfterHyphen, AfterDelimiterCr };
    const uint32_t length = delimiter.Length();
    ByteString& heldText = Scratch().held;
    if (heldText.Length() != length + 2 || std::memcmp(heldText.Text() + 2, delimiter.Text(), length) != 0) {
        heldText.Assign("\r\n");
        heldText.Append(delimiter.Text());
    }
    const auto* held = reinterpret_cast<const unsigned char*>(heldText.Text());
    const unsigned char* delim = held + 2;
    State state = Data;
    uint32_t k = 0;  // delimiter bytes matched in state Matching

    BodyRuns runs(*body);
    const unsigned char* run = nullptr;
    while (const uint32_t n = runs.Next(run)) {
        uint32_t i = 0;
        uint32_t pending = 0;               // run[pending, i): data not yet handed on
        uint32_t heldAt = 0;                // where held-back bytes begin in this run (0 if earlier)
        bool heldBefore = state != Data;    // held-back bytes began in an earlier run
        // The held-back bytes are data after all: count of them, plus one
        // byte beyond the delimiter for the states after it.
        auto release = [&](uint32_t count, const unsigned char* extra) {
            if (heldBefore) {
                sink.Put(held, count);
                if (extra != nullptr) sink.Put(extra, 1);
                pending = i;
                heldBefore = false;
            }
            state = Data;
        };
        // Data that stands before the held-back bytes.
        auto passBeforeHeld = [&] {
            if (heldAt > pending) sink.Put(run + pending, heldAt - pending);
        };

        while (i < n) {
            switch (state) {
            case Data:
                // States 0 to 2 for what lies wholly inside this run: find the
                // next CR that LF follows (a CR before anything else is data
                // and the byte after it is examined again, which finds the
                // same), then match the delimiter byte by byte. A near miss is
                // data that is already in the slice, and the byte that ended
                // it is examined again here. Only a match that reaches the
                // run's end or the whole delimiter leaves this loop.
                for (;;) {
                    const uint32_t cr = FindCrLf(run, i, n);
                    if (cr == n) {
                        i = n;
                        break;
                    }
                    uint32_t p = cr + 1;
                    if (p == n) {
                        heldAt = cr;
                        i = p;
                        state = AfterCr;
                        break;
                    }
                    ++p;
                    const uint32_t m = MatchedPrefix(run + p, n - p, delim, length);
                    p += m;
                    if (p < n && m < length) {  // a near miss
                        i = p;
                        continue;
                    }
                    heldAt = cr;
                    i = p;
                    k = m;
                    state = m == length ? DelimiterSeen : Matching;
                    break;
                }
                break;
            case AfterCr:
                if (run[i] == '\n') {
                    ++i;
                    k = 0;
                    state = length != 0 ? Matching : DelimiterSeen;
                } else {
                    release(1, nullptr);  // examine the byte again: a second CR starts anew
                }
                break;
            case Matching:
                while (i < n && run[i] == delim[k]) {
                    ++i;
                    if (++k == length) {
                        state = DelimiterSeen;
                        break;
                    }
                }
                if (state == Matching && i < n) release(2 + k, nullptr);  // a near miss
                break;
            case DelimiterSeen:
                if (run[i] == '-') {
                    state = AfterHyphen;
                } else if (run[i] == '\r') {
                    state = AfterDelimiterCr;
                } else {
                    release(2 + length, nullptr);  // and the byte itself is data
                }
                ++i;
                break;
            case AfterHyphen:
                if (run[i] == '-') {
                    passBeforeHeld();
                    runs.Take(i + 1);
                    return 0;  // closing delimiter
                }
                release(2 + length, &kHyphen);
                break;
            case AfterDelimiterCr:
                if (run[i] == '\n') {
                    passBeforeHeld();
                    runs.Take(i + 1);
                    return 1;  // another part follows
                }
                release(2 + length, held);  // held[0] is the CR
                break;
            }
        }
        if (state == Data) {
            if (n > pending) sink.Put(run + pending, n - pending);
        } else {
            passBeforeHeld();  // the held-back bytes wait for the next run
        }
        runs.Take(n);
    }
    return 0;  // the body ended: held-back bytes are dropped
}
