#include "parse/PostDataParser.h"

#include "parse/TokenSplitter.h"

namespace qor {

namespace {
constexpr const char* kParameterBlanks = " \t\"";
}

// The file records delete their files.
PostDataParser::~PostDataParser() = default;

PostDataParser::Savepoint::Savepoint(PostDataParser& parser) noexcept
    : parser_(parser), owner_(!parser.undo_.open) {
    if (!owner_) return;
    UndoLog& undo = parser_.undo_;
    undo.open = true;
    undo.fieldCount = parser_.fields.Count();
    undo.fileCount = parser_.files.Count();
    undo.texts = parser_.texts_.Position();
}

PostDataParser::Savepoint::~Savepoint() {
    if (!owner_) return;
    if (!committed_) parser_.RollBack();
    UndoLog& undo = parser_.undo_;
    undo.open = false;
    undo.fieldCount = 0;  // nothing is noted without a savepoint
    undo.fileCount = 0;
    undo.grown.clear();
    undo.noted.clear();
}

void PostDataParser::NoteGrowthSlow(uint32_t field) {
    UndoLog& undo = undo_;
    if (!undo.noted.empty() && undo.noted[field]) return;
    // Both may raise: nothing has been added yet.
    if (undo.noted.empty()) undo.noted.resize(undo.fieldCount);
    undo.grown.emplace_back(field, fields[field].values.Count());
    undo.noted[field] = true;
}

// Newest first: values of older fields, then new fields, then new files,
// whose records delete them, then the texts those fields and values viewed.
// A file still being written was closed when its writer went out of scope.
void PostDataParser::RollBack() noexcept {
    for (const auto& [field, count] : undo_.grown) fields[field].values.Truncate(count);
    if (fields.Count() != undo_.fieldCount) {
        fields.Truncate(undo_.fieldCount);
        index_.Forget();
    }
    files.Truncate(undo_.fileCount);
    texts_.RewindTo(undo_.texts);  // no string views a text kept since
}

void PostDataParser::Parse(const char* contentType, InputBuffer& input, const ParseLimits& limits,
                           ParseObserver* observer) {
    Savepoint savepoint(*this);
    limits_ = limits;
    observer_ = observer;
    struct Forget {
        ParseObserver*& observer;
        ~Forget() { observer = nullptr; }
    } forget{observer_};
    partsAdded_ = 0;
    filesBefore_ = files.Count();
    ParseBody(contentType != nullptr ? contentType : "", input);
    savepoint.Commit();
}

namespace {

constexpr const char kUrlEncodedType[] = "application/x-www-form-urlencoded";

// The content type without spaces, tabs and commas at its ends.
void AssignTrimmed(ByteString& text, const char* contentType) {
    text.Assign(contentType);
    TokenSplitter top(text, ";");
    top.TrimLeft();
    top.TrimRight();
}

// A trimmed content type that is not the URL-encoded one selects multipart
// when its media type, less quotes, is exactly "multipart/form-data" and its
// first parameter is named exactly "boundary": the delimiter is "--" and
// that parameter's value, cut at the next "=" or ";" and less quotes and
// blanks at its ends.
bool DelimiterOf(ByteString& trimmed, ByteString& delimiter) {
    TokenSplitter top(trimmed, ";");
    ByteString mediaType, parameter, name, boundary;
    top.Token(mediaType, 0, 0);
    TokenSplitter split(mediaType, "=", kParameterBlanks);
    split.TrimLeft();
    split.TrimRight();
    if (!mediaType.Equals("multipart/form-data")) return false;

    top.Token(parameter, 1, 0);
    split.SetTarget(parameter);
    split.Token(name, 0, 0);
    split.Token(boundary, 1, 0);
    split.SetTarget(name);
    split.TrimLeft();
    split.TrimRight();
    if (!name.Equals("boundary")) return false;

    split.SetTarget(boundary);
    split.TrimLeft();
    split.TrimRight();
    delimiter.Assign("--");
    delimiter.Append(boundary.Text());
    return true;
}

}  // namespace

bool PostDataParser::MultipartDelimiter(const char* contentType, ByteString& delimiter) {
    ByteString trimmed;
    AssignTrimmed(trimmed, contentType != nullptr ? contentType : "");
    return !trimmed.Equals(kUrlEncodedType) && DelimiterOf(trimmed, delimiter);
}

// The trimmed content type's string goes on as the URL-encoded parse's pair,
// or as the multipart delimiter line.
void PostDataParser::ParseBody(const char* contentType, InputBuffer& body) {
    ByteString text, delimiter;
    AssignTrimmed(text, contentType);
    if (text.Equals(kUrlEncodedType)) return ParseUrlEncoded(body, text);
    if (!DelimiterOf(text, delimiter)) return;
    text.Assign("\r\n");
    text.Append(delimiter.Text());
    ParseMultipart(body, text);
}

ByteString PostDataParser::FormText() const {
    ByteString text;
    for (uint32_t i = 0; i < fields.Count(); ++i) {
        const FormField& field = fields[i];
        if (i != 0) text.PushChar(';');
        text.Append(field.name.Text());
        text.PushChar('=');
        for (uint32_t v = 0; v < field.values.Count(); ++v) {
            if (v != 0) text.PushChar(',');
            text.Append(field.values[v].Text());
        }
    }
    return text;
}

}  // namespace qor
