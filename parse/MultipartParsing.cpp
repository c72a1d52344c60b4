#include <cstring>
#include <memory>
#include <utility>

#include "support/ByteSearch.h"
#include "parse/FileDataSink.h"
#include "support/InputBuffer.h"
#include "parse/PartDataScan.h"
#include "parse/PostDataParser.h"
#include "parse/ParseObserver.h"
#include "parse/TokenSplitter.h"
#include "support/XFile.h"

namespace qor {

namespace {

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
HeaderShape LookAtHeader(const char* text, uint32_t length) {
    // The name, the colon and one more byte.
    if (length <= kDispositionLength + 1) return HeaderShape::Other;
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
// per byte. NUL ends the parameter and its name, as the end of the text. A
// line read into a string holds no CR or LF, and one read in place ends at
// its CR or LF and holds no other: both end the text as NUL does.
enum : uint8_t {
    kParameterEnd = 1,    // ";", and the text's end
    kNameEnd = 2,         // "=", ";" and the text's end: also ends a value
    kLeadingBlank = 4,    // space, tab, comma: skipped before a parameter
    kParameterBlank = 8,  // space, tab, double quote: around names and values
    kTextEnd = 16         // NUL, CR, LF
};
constexpr struct ParameterClasses {
    uint8_t of[256] = {};
    constexpr ParameterClasses() {
        for (const unsigned char end : {'\0', '\r', '\n'}) Set(end, kParameterEnd | kNameEnd | kTextEnd);
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

}  // namespace

struct PostDataParser::PartHeaderReader {
    PartHeaderReader() : headerSplit(line, ":"), headerName(header, ":") {}

    // Reads the part's header lines up to the empty line that ends them;
    // false when the body ends first.
    bool ReadBlock(InputBuffer& body);

    // A header line of any shape: its name through the splitter, then the
    // parameters when it names Content-Disposition.
    void ReadHeaderLine(const ByteString& line);
    // One header line, length bytes at text: in `line`, or in place in the
    // body's run, followed by its CR or LF.
    void ReadHeader(const char* text, uint32_t length);
    // The parameters of a Content-Disposition line, from just after its
    // colon to the line's first NUL (or its end); the one reader for every
    // line shape.
    void ReadDisposition(const char* parameters);

    // What the header block said so far.
    ByteString fieldName, fileName, contentType;
    ByteString value;  // a text part's data, gathered before it is kept
    bool isFile = false;

    ByteString line;  // the header line being read
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
        if (c.Is(*p, kTextEnd)) return;
        ++p;
    }
}

void PostDataParser::PartHeaderReader::ReadHeader(const char* text, uint32_t length) {
    const HeaderShape shape = LookAtHeader(text, length);
    if (shape == HeaderShape::Disposition) return ReadDisposition(text + kDispositionLength + 1);
    if (text != line.Text()) {  // the other readers take the line as a string
        line.Clear();
        AppendToLine(line, reinterpret_cast<const unsigned char*>(text), length);
    }
    if (shape == HeaderShape::Other) ReadContentType(line, contentType);
    else ReadHeaderLine(line);
}

// A line that lies whole in the get buffer's run, with no CR but one right
// before its LF, is read in place; any other goes through ReadLine.
bool PostDataParser::PartHeaderReader::ReadBlock(InputBuffer& body) {
    fieldName.Clear();
    fileName.Clear();
    contentType.Clear();
    isFile = false;
    for (;;) {
        const unsigned char* run = nullptr;
        const uint32_t n = body.PeekRun(run);
        const uint32_t stop = bytesearch::FindLineBreak(run, 0, n);
        const uint32_t taken = stop == n           ? 0
                               : run[stop] == '\n' ? stop + 1
                               : stop + 1 < n && run[stop + 1] == '\n' ? stop + 2
                                                                       : 0;
        if (taken == 0) {
            if (!ReadLine(body, line)) return false;
            if (line.Length() == 0) return true;
            ReadHeader(line.Text(), line.Length());
            continue;
        }
        if (stop != 0) ReadHeader(reinterpret_cast<const char*>(run), stop);
        body.Consume(taken);
        if (stop == 0) return true;
    }
}

void PostDataParser::DeleteHeaderReader(PartHeaderReader* reader) noexcept { delete reader; }

PostDataParser::PartHeaderReader& PostDataParser::HeaderReader() {
    if (!headerReader_) headerReader_.reset(new PartHeaderReader);
    return *headerReader_.get();
}

struct PostDataParser::MultipartBody {
    InputBuffer& input;
    DelimiterLine delimiter;
    UniqueByteArray fileGather;  // FileDataSink's buffer, shared by the body's files
};

void PostDataParser::ParseMultipart(InputBuffer& input, const ByteString& delimiterLine) {
    MultipartBody body{input, DelimiterLine(reinterpret_cast<const unsigned char*>(delimiterLine.Text()),
                                            delimiterLine.Length()),
                       UniqueByteArray()};
    ByteString& line = HeaderReader().line;
    // Anything before or after the delimiter on the first line (blanks
    // included) leaves the whole body unparsed.
    if (!ReadLine(input, line) || !line.Equals(delimiterLine.Text() + 2)) return;
    while (ParsePart(body)) {
    }
}

bool PostDataParser::ReadLine(InputBuffer& body, ByteString& line) {
    line.Clear();
    BodyRunReader runs(body);
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

bool PostDataParser::ParsePart(MultipartBody& body) {
    PartHeaderReader& header = HeaderReader();
    header.ReadBlock(body.input);
    // The end of the body, an empty header block, or a part without a name:
    // its data is not consumed and no later part is read.
    if (header.fieldName.Length() == 0) return false;

    // A blank file input adds no value, so it does not count against MaxParts.
    if (!header.isFile || header.fileName.Length() != 0) CountPart();
    // Parsing goes on after the closing delimiter too: whatever follows it
    // is read as the next part's header block.
    if (!header.isFile) {
        header.value.Clear();
        AppendToValue sink{header.value};
        CopyPartData(body, sink);
        AddValue(header.fieldName, KeepText(std::move(header.value)));
    } else if (header.fileName.Length() == 0) {
        SkipByte sink;
        CopyPartData(body, sink);
    } else {
        StoreFilePart(body, header.fieldName, header.fileName, header.contentType);
    }
    return true;
}

void PostDataParser::StoreFilePart(MultipartBody& body, const ByteString& fieldName, const ByteString& fileName,
                                   const ByteString& contentType) {
    if (limits_.maxFiles != 0 && files.Count() - filesBefore_ >= limits_.maxFiles)
        throw ParseLimitExceeded(ParseLimitExceeded::Limit::Files, limits_.maxFiles);
    // The record goes into the list first and owns the file from its
    // creation on. A failure from there takes the record back with the
    // parse, which deletes the file after the writer, destroyed on the way
    // out, has closed it.
    UploadedFile& record = files.Emplace();
    record.fieldName.Assign(fieldName);
    record.userPath.Assign(fileName);
    record.contentType.Assign(contentType);
    XFile writer(record.tmpPath, 0);  // the sink gathers small runs itself
    AddValue(fieldName, KeepText(fileName));
    if (observer_) observer_->FileStarted(record);
    FileDataSink sink(writer, record.size, limits_.maxFileBytes, body.fileGather);
    CopyPartData(body, sink);
    sink.Flush();
    writer.Close();
    if (observer_) observer_->FileStored(record);
}

// Bodies of many empty values ("a=&a=&...") cost only their slots, and
// bodies of many short fields one arena copy of each text.
ByteString& PostDataParser::AddValue(const ByteString& name, ByteString&& value) {
    const int32_t found = FindField(name);
    if (found < 0) {
        FormField& field = fields.Emplace(texts_.Keep(name), std::move(value));
        index_.AddMissed(fields);  // the new field goes where the lookup missed
        return field.values[0];
    }
    NoteGrowth(static_cast<uint32_t>(found));
    return fields[static_cast<uint32_t>(found)].values.Append(std::move(value));
}

// A long scratch text goes over as it is; the scratch starts again empty.
ByteString PostDataParser::KeepText(ByteString&& scratch) {
    if (scratch.Length() <= TextArena::kLongestKept) return texts_.Keep(scratch);
    return std::exchange(scratch, ByteString::WithoutStorage());
}

namespace {

// held becomes window[from, size): a tail of itself, or of a run.
void Hold(ByteString& held, const unsigned char* window, uint32_t from, uint32_t size) {
    const uint32_t count = size - from;
    if (window != reinterpret_cast<const unsigned char*>(held.Text())) {
        held.Clear();
        held.AppendBytes(reinterpret_cast<const char*>(window + from), count);
        return;
    }
    char* text = held.MutableText();
    std::memmove(text, text + from, count);
    text[count] = 0;
    held.SetLength(count);
}

}  // namespace

// The loop that feeds the scan, one window at a time: the body's next run,
// or the bytes held back at the end of the last run followed by enough of
// the next run to decide on them. A long run is scanned a piece at a time,
// so that each piece is still in the cache when the sink copies it. Held
// bytes are always a proper prefix of the delimiter line and its two bytes;
// at the end of the body they are dropped.
template <typename Sink>
void PostDataParser::CopyPartData(MultipartBody& body, Sink& sink) {
    const uint32_t lineEnd = body.delimiter.length + 2;  // the line and "--" or CR LF
    // A piece longer than the line ends its held bytes past its start.
    const uint32_t piece = kScanPiece > lineEnd ? kScanPiece : lineEnd + 1;
    ByteString held = ByteString::WithoutStorage();
    BodyRunReader runs(body.input);
    const unsigned char* run = nullptr;
    while (const uint32_t n = runs.Next(run)) {
        const uint32_t before = held.Length();
        const uint32_t taken = n < (before != 0 ? lineEnd : piece) ? n : (before != 0 ? lineEnd : piece);
        const unsigned char* window = run;
        if (before != 0) {
            held.AppendBytes(reinterpret_cast<const char*>(run), taken);
            window = reinterpret_cast<const unsigned char*>(held.Text());
        }
        const uint32_t size = before + taken;
        const PartScan scan = ScanPartData(window, size, body.delimiter);
        if (scan.data != 0) sink.Put(window, scan.data);
        if (scan.end == PartEnd::Closing || scan.end == PartEnd::NextPart) {
            runs.Take(scan.data + lineEnd - before);
            return;
        } else if (scan.end == PartEnd::Held && taken < n) {
            runs.Take(scan.data - before);  // the run goes on: scan again from the held bytes
            held.Clear();
        } else {
            Hold(held, window, scan.data, size);
            runs.Take(taken);
        }
    }
}

}  // namespace qor
