#pragma once
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "support/ByteString.h"
#include "parse/FieldIndex.h"
#include "parse/FileDataSink.h"
#include "parse/ParseLimits.h"
#include "parse/ParseResults.h"
#include "support/TextArena.h"
#include "support/UniqueAny.h"

namespace qor {

class InputBuffer;
class ParseObserver;

// Turns a request body and its content type into text fields and stored
// files. Results accumulate over the parser's life: Parse never empties the
// lists, and a later body merges into them by field name. Each file record
// owns its temporary file: destroying the parser deletes them all.
//
// Input it does not recognise is ignored and the parser reports nothing
// itself; Parse raises only ParseLimitExceeded, what the file layer raises
// (XFileAlarm), what the body's medium raises and std::bad_alloc, and then
// only after taking back everything it added.
class PostDataParser {
public:
    PostDataParser() = default;
    PostDataParser(const PostDataParser&) = delete;
    PostDataParser& operator=(const PostDataParser&) = delete;
    ~PostDataParser();

    // Parses body by its content type (8-bit text up to its NUL): exactly
    // "application/x-www-form-urlencoded" after trimming, or
    // "multipart/form-data" whose first parameter is its boundary. Anything
    // else parses nothing. The body is read only during the call, and no
    // further than the parse needs. A parse that raises (a limit, XFileAlarm
    // from the file layer, the medium's failure, std::bad_alloc) takes back
    // everything it added before the exception leaves.
    // An observer, when given, hears of each file part as it is stored.
    void Parse(const char* contentType, InputBuffer& body, const ParseLimits& limits = {},
               ParseObserver* observer = nullptr);

    // The multipart delimiter ("--" and the boundary) that contentType
    // selects; false, with delimiter untouched, when it selects no multipart
    // parse.
    static bool MultipartDelimiter(const char* contentType, ByteString& delimiter);

    // The results of every parse so far.
    const FormFieldList& Fields() const { return fields; }
    const UploadedFileList& Files() const { return files; }
    // The file of record index is no longer the parser's to delete: it has
    // been moved away. Its record stays, with an empty temporary name.
    void ReleaseFile(uint32_t index) noexcept {
        if (index < files.Count()) files[index].tmpPath.Release();
    }

    // Position of the field of exactly that name (case-sensitive,
    // NUL-terminated comparison), or -1.
    int32_t FindField(const ByteString& name) const { return FindField(name.Text()); }
    int32_t FindField(const char* name) const { return index_.Find(fields, name); }

    // The whole form as name=v1,v2;name2=v3, unescaped.
    ByteString FormText() const;

    // Temporary files are written in writes of at most this many bytes
    // (FileDataSink).
    static constexpr uint32_t kLargeWrite = FileDataSink::kLargeWrite;
    // A part's data is scanned for its end in pieces of this size, each
    // stored before the next is scanned.
    static constexpr uint32_t kScanPiece = 1u << 20;

    // What the parser adds while a savepoint is open (records, values, also
    // values added to fields that existed before, and temporary files) is
    // taken back when the savepoint ends uncommitted: the lists and the files
    // on disk are as they were when it opened. A savepoint opened while
    // another is open leaves the taking back to the outer one.
    class Savepoint {
    public:
        explicit Savepoint(PostDataParser& parser) noexcept;
        ~Savepoint();
        Savepoint(const Savepoint&) = delete;
        Savepoint& operator=(const Savepoint&) = delete;
        // Keeps everything added so far.
        void Commit() noexcept { committed_ = true; }

    private:
        PostDataParser& parser_;
        bool owner_;
        bool committed_ = false;
    };

private:
    void ParseBody(const char* contentType, InputBuffer& body);
    void ParseUrlEncoded(InputBuffer& body, ByteString& pair);
    // Parses a body whose first line is exactly the delimiter (delimiterLine
    // is CR LF and the delimiter): text parts become field values, file parts
    // temporary files. XFileAlarm from the file layer leaves through here,
    // and the savepoint of Parse takes back what was stored before it.
    void ParseMultipart(InputBuffer& body, const ByteString& delimiterLine);
    // A multipart body being parsed, with its delimiter line.
    struct MultipartBody;

    // Reads the next line of body into line, dropping every CR. True when an
    // LF ended the line, false when the body ended first.
    static bool ReadLine(InputBuffer& body, ByteString& line);
    // Reads one part's header block and stores or skips the part's data.
    // False when parsing ends: no field name, or the body has ended.
    bool ParsePart(MultipartBody& body);

    // What an open savepoint needs to take the parse back.
    struct UndoLog {
        bool open = false;
        uint32_t fieldCount = 0;  // fields and files that existed at the savepoint
        uint32_t fileCount = 0;
        TextArena::Mark texts{};  // the arena's texts then
        // Fields that existed before and have gained values since, with how
        // many values each had; `noted` marks them so each is noted once.
        std::vector<std::pair<uint32_t, uint32_t>> grown;
        std::vector<bool> noted;
    };
    // Before a value is added to an existing field: notes the field's value
    // count when the open savepoint cannot tell it otherwise.
    void NoteGrowth(uint32_t field) {
        if (field < undo_.fieldCount) NoteGrowthSlow(field);
    }
    void NoteGrowthSlow(uint32_t field);
    void RollBack() noexcept;

    // Reads one part's header block: its scratch strings and splitters, made
    // once per parser rather than once per part, and what the block said.
    struct PartHeaderReader;
    static void DeleteHeaderReader(PartHeaderReader* reader) noexcept;
    using UniqueHeaderReader = UniqueAny<PartHeaderReader*, &DeleteHeaderReader>;
    PartHeaderReader& HeaderReader();

    // Passes the current part's data to sink (Put(bytes, count)) up to the
    // next delimiter line, and reads past that line and the two bytes after
    // it ("--" or CR LF), or to the end of the body.
    template <typename Sink>
    static void CopyPartData(MultipartBody& body, Sink& sink);

    // Adds value at the end of the field's values, or as the first value of a
    // new field, and gives back the value added. The caller has kept the
    // value's text already (KeepText); a new field's name is kept here.
    ByteString& AddValue(const ByteString& name, ByteString&& value);
    // The text as a value to add: short texts are copied into the arena, a
    // long one is copied into storage of its own, or moved when it is the
    // caller's scratch to give up (a text part's data).
    ByteString KeepText(const ByteString& text) { return texts_.Keep(text); }
    ByteString KeepText(ByteString&& scratch);
    // Splits one URL-encoded pair, [text, end), into name and value
    // (scratch strings of the caller) and adds the value.
    void AddPair(const char* text, const char* end, ByteString& name, ByteString& value);
    void StoreFilePart(MultipartBody& body, const ByteString& fieldName, const ByteString& fileName,
                       const ByteString& contentType);
    // Counts a value about to be added against the call's bound.
    void CountPart() {
        if (++partsAdded_ > limits_.maxParts && limits_.maxParts != 0)
            throw ParseLimitExceeded(ParseLimitExceeded::Limit::Parts, limits_.maxParts);
    }

    ParseLimits limits_;          // of the current Parse
    ParseObserver* observer_ = nullptr;  // of the current Parse, or none
    uint32_t partsAdded_ = 0;     // by the current Parse
    uint32_t filesBefore_ = 0;    // files recorded when the current Parse began
    TextArena texts_;             // field names and short values: before the lists, so it goes after them
    FormFieldList fields;
    UploadedFileList files;

    // Lookups bring the index up to the list: it is a cache of `fields`.
    mutable FieldIndex index_;
    UndoLog undo_;
    UniqueHeaderReader headerReader_;
};

}  // namespace qor
