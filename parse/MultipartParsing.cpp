#include <cstring>
#include <memory>

#include "support/ByteSearch.h"
#include "support/InputBuffer.h"
#include "parse/PostDataParser.h"
#include "support/RuntimeFiles.h"
#include "parse/TokenSplitter.h"
#include "support/UniqueAny.h"
#include "support/XFile.h"

namespace qor {

namespace {

// A temporary file that no record owns yet: deleted when its owner goes.
using UnownedTemporaryFile = UniqueAny<const char*, [](const char* path) { rt::Unlink(path); }>;

constexpr const char kDisposition[] = "CONTENT-DISPOSITION";
constexpr uint32_t kDispositionLength = sizeof kDisposition - 1;
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
    uint32_t maxBytes;  // 0: no bound
    void Put(const unsigned char* bytes, uint32_t count) {
        // Nothing of a run that would take the file past its bound is written.
        if (maxBytes != 0 && count > maxBytes - static_cast<uint32_t>(size))
            throw ParseLimitExceeded(ParseLimitExceeded::Limit::FileBytes, maxBytes);
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

// A file input left blank: its data is read, run by run, and dropped.
struct SkipByte {
    void Put(const unsigned char*, uint32_t) {}
};

// The next run of body bytes to examine: the get buffer's waiting bytes, or
// one byte when reading is unbuffered. Runs taken with Peek are consumed by
// Take, once the caller knows how many bytes it used.
class BodyRunReader {
public:
    explicit BodyRunReader(InputBuffer& body) : body_(body) {}

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
    NeedsSplitter,  // leading blanks, or a NUL where the colon would be
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
    if (text[0] == ' ' || text[0] == '\t' || text[0] == ',') return HeaderShape::NeedsSplitter;
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
    return text[kDispositionLength] == 0 ? HeaderShape::NeedsSplitter : HeaderShape::Other;
}

// Matches `^Content-Type:[ \t]*(.*?)[ \t]*$`, the name in either case, the
// line read up to its first NUL; value is the group.
bool ReadContentType(const ByteString& line, ByteString& value) {
    static constexpr char kName[] = "content-type:";
    constexpr uint32_t kNameLength = sizeof kName - 1;
    const char* text = line.Text();
    if (line.Length() < kNameLength) return false;
    for (uint32_t i = 0; i < kNameLength; ++i)
        if ((text[i] | (kName[i] == '-' || kName[i] == ':' ? 0 : 0x20)) != kName[i]) return false;
    const char* begin = text + kNameLength;
    while (*begin == ' ' || *begin == '\t') ++begin;
    const char* end = begin + std::strlen(begin);
    while (end != begin && (end[-1] == ' ' || end[-1] == '\t')) --end;
    value.Clear();
    value.AppendBytes(begin, static_cast<uint32_t>(end - begin));
    return true;
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
        Set(0, kParameterEnd | kNameEnd);
        Set(';', kParameterEnd | kNameEnd);
        Set('=', kNameEnd);
        Set(',', kLeadingBlank);
        Set(' ', kLeadingBlank | kParameterBlank);
        Set('\t', kLeadingBlank | kParameterBlank);
        Set('"', kParameterBlank);
    }
    constexpr void Set(unsigned char c, uint8_t classes) { of[c] = classes; }
    bool Is(char c, uint8_t cls) const { return (of[static_cast<unsigned char>(c)] & cls) != 0; }
} kParameterClasses;

// Where a part's data ends. The data runs up to a delimiter line: CR LF, the
// delimiter, then "--" (the closing delimiter: no part follows) or CR LF
// (another part follows). Six states recognise it a byte at a time; only the
// data state skips ahead, to the next CR LF. The bytes of a possible
// delimiter (CR LF and a delimiter prefix, then "-" or CR) are held back
// until they prove to be one, or data after all.
enum class DataState : uint8_t { Data, AfterCr, Matching, DelimiterSeen, AfterHyphen, AfterDelimiterCr };
struct DataScan {
    DataState state = DataState::Data;
    uint32_t k = 0;  // delimiter bytes matched in Matching
};
enum class DataEnd { RunUsed, Closing, NextPart };

// What one run of body bytes holds, in the order the sink must receive it:
// held-back bytes from earlier runs that proved data (they equal the first
// `released` bytes of CR LF and the delimiter, then perhaps one extra byte),
// then run[dataBegin, dataEnd). Held-back bytes that began in this run and
// proved data lie inside that slice.
struct DataStep {
    DataScan next;  // for the next run, when the end is RunUsed
    DataEnd end = DataEnd::RunUsed;
    uint32_t consumed = 0;  // bytes of the run taken: all of it, or up to the delimiter line's end
    uint32_t released = 0;
    const unsigned char* releasedExtra = nullptr;
    uint32_t dataBegin = 0, dataEnd = 0;
};

const unsigned char kHyphen = '-';

// One run through the states, starting from scan. held is CR LF and the
// delimiter (length bytes). Touches nothing but the result.
DataStep StepPartData(const unsigned char* run, uint32_t n, DataScan scan, const unsigned char* held,
                      uint32_t length) {
    using enum DataState;
    const unsigned char* delim = held + 2;
    DataStep step;
    DataState state = scan.state;
    uint32_t k = scan.k;
    uint32_t i = 0;
    uint32_t pending = 0;             // run[pending, i): data not yet placed in the slice's start
    uint32_t heldAt = 0;              // where held-back bytes begin in this run (0 if earlier)
    bool heldBefore = state != Data;  // held-back bytes began in an earlier run
    // The held-back bytes are data after all: count of them, plus one byte
    // beyond the delimiter for the states after it.
    auto release = [&](uint32_t count, const unsigned char* extra) {
        if (heldBefore) {
            step.released = count;
            step.releasedExtra = extra;
            pending = i;
            heldBefore = false;
        }
        state = Data;
    };
    auto finish = [&](DataEnd end, uint32_t consumed, uint32_t dataEnd) {
        step.end = end;
        step.consumed = consumed;
        step.dataBegin = pending;
        step.dataEnd = dataEnd > pending ? dataEnd : pending;
        step.next = DataScan{state, k};
        return step;
    };

    while (i < n) {
        switch (state) {
        case Data:
            // States Data to Matching for what lies wholly inside this run:
            // find the next CR that LF follows (a CR before anything else is
            // data, and examining the byte after it again finds the same),
            // then match the delimiter. A near miss is data already in the
            // slice, and the byte that ended it is examined again here. Only
            // a match that reaches the run's end or the whole delimiter
            // leaves this loop.
            for (;;) {
                const uint32_t cr = bytesearch::FindCrLf(run, i, n);
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
                const uint32_t m = bytesearch::MatchedPrefix(run + p, n - p, delim, length);
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
            if (run[i] == '-') return finish(DataEnd::Closing, i + 1, heldAt);
            release(2 + length, &kHyphen);
            break;
        case AfterDelimiterCr:
            if (run[i] == '\n') return finish(DataEnd::NextPart, i + 1, heldAt);
            release(2 + length, held);  // held[0] is the CR
            break;
        }
    }
    // In the data state the whole rest is data; otherwise the held-back
    // bytes wait for the next run.
    return finish(DataEnd::RunUsed, n, state == Data ? n : heldAt);
}

}  // namespace

struct PostDataParser::PartHeaderReader {
    explicit PartHeaderReader(ByteString& line) : headerSplit(line, ":"), headerName(header, ":") {}

    // A header line of any shape: its name through the splitter, then the
    // parameters when it names Content-Disposition.
    void ReadHeaderLine(const ByteString& line);
    // The parameters of a Content-Disposition line, from just after its
    // colon to the line's first NUL; the one reader for every line shape.
    void ReadDisposition(const char* parameters);

    // What the header block said so far.
    ByteString fieldName, fileName, contentType;
    bool isFile = false;

    ByteString header;
    TokenSplitter headerSplit;  // a header line, at ":"
    TokenSplitter headerName;   // upper-cases the header name
};

void PostDataParser::PartHeaderReader::ReadHeaderLine(const ByteString& line) {
    const uint32_t colon = headerSplit.Token(header, 0, 0);
    // Only a header name with something after its colon counts; blanks
    // before the colon make it a different name.
    // (A token holds no NUL, so its length tells a name that cannot match.)
    if (colon + 1 >= line.Length() || header.Length() != kDispositionLength) return;
    headerName.ToUpper();
    if (!header.Equals(kDisposition)) return;
    ReadDisposition(line.Text() + colon + 1);
}

void PostDataParser::PartHeaderReader::ReadDisposition(const char* p) {
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

void PostDataParser::DeleteHeaderReader(PartHeaderReader* reader) noexcept { delete reader; }

PostDataParser::PartHeaderReader& PostDataParser::HeaderReader() {
    if (!headerReader_) headerReader_.reset(new PartHeaderReader(line));
    return *headerReader_.get();
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
    BodyRunReader runs(*body);
    const unsigned char* run = nullptr;
    while (const uint32_t n = runs.Next(run)) {
        for (uint32_t from = 0;;) {
            const uint32_t stop = bytesearch::FindLineBreak(run, from, n);
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
    PartHeaderReader& header = HeaderReader();
    header.fieldName.Clear();
    header.fileName.Clear();
    header.contentType.Clear();
    header.isFile = false;

    bool more = ReadLine();
    while (more && line.Length() != 0) {
        switch (LookAtHeader(line)) {
        case HeaderShape::Other: ReadContentType(line, header.contentType); break;
        case HeaderShape::Disposition: header.ReadDisposition(line.Text() + kDispositionLength + 1); break;
        case HeaderShape::NeedsSplitter: header.ReadHeaderLine(line); break;
        }
        more = ReadLine();
    }
    ByteString& fieldName = header.fieldName;
    ByteString& fileName = header.fileName;
    const bool isFile = header.isFile;

    // The end of the body, an empty header block, or a part without a name:
    // its data is not consumed and no later part is read.
    if (fieldName.Length() == 0) return false;

    // A blank file input adds no value, so it does not count against MaxParts.
    if (!isFile || fileName.Length() != 0) CountPart();
    if (!isFile) {
        static const ByteString empty;
        AddValue(fieldName, empty);
        AppendToValue sink{fields[static_cast<uint32_t>(curField)].values[static_cast<uint32_t>(curValue)]};
        CopyPartData(sink);
    } else if (fileName.Length() == 0) {
        SkipByte sink;
        CopyPartData(sink);
    } else {
        StoreFilePart(fieldName, fileName, header.contentType);
    }
    return true;
}

void PostDataParser::StoreFilePart(const ByteString& fieldName, const ByteString& fileName,
                                   const ByteString& contentType) {
    if (limits_.maxFiles != 0 && files.Count() - filesBefore_ >= limits_.maxFiles)
        throw ParseLimitExceeded(ParseLimitExceeded::Limit::Files, limits_.maxFiles);
    UploadedFile record;
    record.fieldName.Assign(fieldName);
    record.userPath.Assign(fileName);
    record.contentType.Assign(contentType);
    // Creating the file is the last step that may fail before anything of the
    // part is stored. Until the record is appended, a failure deletes the file
    // (after the writer, made later, has closed it); from then on the record
    // owns it and the parser's destruction deletes it.
    UnownedTemporaryFile unowned;
    auto writer = std::make_unique<XFile>(XFile::NewTemporary{}, record.tmpPath, kFileBufferSize);
    unowned.reset(record.tmpPath.Text());
    files.Append(record);
    unowned.release();
    int32_t& size = files.Last().size;
    // An alarm from here on destroys the writer on its way out, which closes
    // the file and ignores the writer's own errors.
    AddValue(fieldName, fileName);
    AppendToFile sink{*writer, size, limits_.maxFileBytes};
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

template <typename Sink>
int PostDataParser::CopyPartData(Sink& sink) {
    const uint32_t length = delimiter.Length();
    if (delimiterLine_.Length() != length + 2 ||
        std::memcmp(delimiterLine_.Text() + 2, delimiter.Text(), length) != 0) {
        delimiterLine_.Assign("\r\n");
        delimiterLine_.Append(delimiter.Text());
    }
    const auto* held = reinterpret_cast<const unsigned char*>(delimiterLine_.Text());
    DataScan scan;
    BodyRunReader runs(*body);
    const unsigned char* run = nullptr;
    while (const uint32_t n = runs.Next(run)) {
        const DataStep step = StepPartData(run, n, scan, held, length);
        if (step.released != 0) sink.Put(held, step.released);
        if (step.releasedExtra != nullptr) sink.Put(step.releasedExtra, 1);
        if (step.dataEnd > step.dataBegin) sink.Put(run + step.dataBegin, step.dataEnd - step.dataBegin);
        runs.Take(step.consumed);
        if (step.end == DataEnd::Closing) return 0;
        if (step.end == DataEnd::NextPart) return 1;
        scan = step.next;
    }
    return 0;  // the body ended: held-back bytes are dropped
}

}  // namespace qor
