#include <cstring>
#include <memory>

#include "InputBuffer.h"
#include "PostDataParser.h"
#include "RuntimeFiles.h"
#include "TokenSplitter.h"
#include "XFile.h"

namespace {

constexpr const char* kParameterBlanks = " \t\"";
const unsigned char kCrLf[2] = {'\r', '\n'};
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

}  // namespace

void PostDataParser::ParseMultipart(InputBuffer& input) {
    body = &input;
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
        const auto* lf = static_cast<const unsigned char*>(std::memchr(run, '\n', n));
        const uint32_t end = lf ? static_cast<uint32_t>(lf - run) : n;
        // CR is dropped wherever it stands in the line.
        for (uint32_t from = 0; from < end;) {
            const auto* cr = static_cast<const unsigned char*>(std::memchr(run + from, '\r', end - from));
            const uint32_t stop = cr ? static_cast<uint32_t>(cr - run) : end;
            line.AppendBytes(reinterpret_cast<const char*>(run + from), stop - from);
            from = stop + 1;
        }
        if (lf != nullptr) {
            runs.Take(end + 1);
            return true;
        }
        runs.Take(n);
    }
    return false;
}

bool PostDataParser::ParsePart() {
    ByteString fieldName, fileName, header, parameter, parameterName, parameterValue;
    bool isFile = false;
    TokenSplitter headerSplit(line, ":");
    TokenSplitter parameterSplit(header, ";");
    TokenSplitter nameValue(parameter, "=", kParameterBlanks);

    bool more = ReadLine();
    while (more && line.Length() != 0) {
        const uint32_t colon = headerSplit.Token(header, 0, 0);
        // Only a header name with something after its colon counts; blanks
        // before the colon make it a different name.
        if (colon + 1 < line.Length()) {
            parameterSplit.ToUpper();
            if (header.Equals("CONTENT-DISPOSITION")) {
                isFile = false;
                fileName.Clear();
                line.CopyRange(header, colon + 1, 0);
                // Each parameter starts right after the ";" that ended the one
                // before: the same tokens as counting from the start, in one pass.
                const uint32_t count = parameterSplit.TokenCount(0);
                uint32_t start = 0;
                for (uint32_t i = 0; i < count; ++i) {
                    const uint32_t stop = parameterSplit.Token(parameter, 0, start);
                    start = header.Text()[stop] != 0 ? stop + 1 : stop;
                    nameValue.SetTarget(parameter);
                    nameValue.Token(parameterName, 0, 0);
                    nameValue.Token(parameterValue, 1, 0);
                    nameValue.SetTarget(parameterValue);
                    nameValue.TrimLeft();
                    nameValue.TrimRight();
                    if (parameterName.Equals("name")) {
                        fieldName.Assign(parameterValue);
                    } else if (parameterName.Equals("filename")) {
                        isFile = true;
                        fileName.Assign(parameterValue);
                    }
                }
            }
        }
        more = ReadLine();
    }

    // The end of the body, an empty header block, or a part without a name:
    // its data is not consumed and no later part is read.
    if (fieldName.Length() == 0) return false;

    if (!isFile) {
        AddValue(fieldName, ByteString());
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
        return;
    }
    ByteStringList& values = fields[static_cast<uint32_t>(curField)].values;
    curValue = static_cast<int32_t>(values.Count());
    values.Append(value);
}

// Delimiter recognition, one byte at a time through six states; only the data
// state hands whole runs to the sink, up to the next CR. Held-back bytes are
// CR LF and a prefix of the delimiter, so when a near miss turns out to be
// data they are passed on from constants, whichever runs they arrived in.
template <typename Sink>
int PostDataParser::CopyPartData(Sink& sink) {
    enum State { Data, AfterCr, Matching, DelimiterSeen, AfterHyphen, AfterDelimiterCr };
    const auto* delim = reinterpret_cast<const unsigned char*>(delimiter.Text());
    const uint32_t length = delimiter.Length();
    State state = Data;
    uint32_t k = 0;  // delimiter bytes matched in state Matching

    BodyRuns runs(*body);
    const unsigned char* run = nullptr;
    while (const uint32_t n = runs.Next(run)) {
        uint32_t i = 0;
        while (i < n) {
            switch (state) {
            case Data: {
                const auto* cr = static_cast<const unsigned char*>(std::memchr(run + i, '\r', n - i));
                const uint32_t stop = cr ? static_cast<uint32_t>(cr - run) : n;
                if (stop != i) sink.Put(run + i, stop - i);
                i = stop;
                if (cr != nullptr) {
                    ++i;
                    state = AfterCr;
                }
                break;
            }
            case AfterCr:
                if (run[i] == '\n') {
                    ++i;
                    k = 0;
                    state = length != 0 ? Matching : DelimiterSeen;
                } else {
                    sink.Put(kCrLf, 1);  // examine the byte again: a second CR starts anew
                    state = Data;
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
                if (state == Matching && i < n) {  // a near miss is data
                    sink.Put(kCrLf, 2);
                    sink.Put(delim, k);
                    state = Data;
                }
                break;
            case DelimiterSeen:
                if (run[i] == '-') {
                    state = AfterHyphen;
                } else if (run[i] == '\r') {
                    state = AfterDelimiterCr;
                } else {
                    sink.Put(kCrLf, 2);
                    sink.Put(delim, length);
                    sink.Put(run + i, 1);
                    state = Data;
                }
                ++i;
                break;
            case AfterHyphen:
                if (run[i] == '-') {
                    runs.Take(i + 1);
                    return 0;  // closing delimiter
                }
                sink.Put(kCrLf, 2);
                sink.Put(delim, length);
                sink.Put(&kHyphen, 1);
                state = Data;
                break;
            case AfterDelimiterCr:
                if (run[i] == '\n') {
                    runs.Take(i + 1);
                    return 1;  // another part follows
                }
                sink.Put(kCrLf, 2);
                sink.Put(delim, length);
                sink.Put(kCrLf, 1);
                state = Data;
                break;
            }
        }
        runs.Take(n);
    }
    return 0;  // the body ended: held-back bytes are dropped
}
