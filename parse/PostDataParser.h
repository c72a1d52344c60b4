#pragma once
#include <cstdint>
#include <memory>

#include "ByteString.h"
#include "FieldIndex.h"
#include "ParseResults.h"

class InputBuffer;

// Turns a request body and its content type into text fields and stored
// files. Results accumulate over the parser's life: Parse never empties the
// lists, and a later body merges into them by field name. Destruction
// deletes every temporary file recorded in `files`.
//
// Input it does not recognise is ignored; the parser reports nothing itself.
class PostDataParser {
public:
    PostDataParser() = default;
    PostDataParser(const PostDataParser&) = delete;
    PostDataParser& operator=(const PostDataParser&) = delete;
    ~PostDataParser();

    // Dispatches on contentType, which the owner sets first: exactly
    // "application/x-www-form-urlencoded" after trimming, or
    // "multipart/form-data" whose first parameter is its boundary. Anything
    // else parses nothing.
    void Parse(InputBuffer& input);
    void ParseUrlEncoded(InputBuffer& input);
    // Parses a body that begins with the exact line `delimiter`: text parts
    // become field values, file parts temporary files. XFileAlarm from the
    // file layer leaves through here; what was stored before it stays,
    // including the record of a file part whose writing failed.
    void ParseMultipart(InputBuffer& input);

    // Reads the next line of `body` into `line`, dropping every CR. True when
    // an LF ended the line, false when the body ended first.
    bool ReadLine();
    // Reads one part's header block and stores or skips the part's data.
    // False when parsing ends: no field name, or the body has ended.
    bool ParsePart();

    // Decodes "+" and %XX escapes in place; malformed escapes and %00 stay as
    // written, so a decoded value never holds a NUL.
    static void UrlDecode(ByteString& text);
    // The byte that two hex digits denote, or 0 when they are not two hex
    // digits. Reads the second character only when the first is a digit.
    static unsigned char HexPairValue(const char* digits);

    // Position of the field of exactly that name (case-sensitive,
    // NUL-terminated comparison), or -1.
    int32_t FindField(const ByteString& name) { return FindField(name.Text()); }
    int32_t FindField(const char* name) { return index_.Find(fields, name); }

    // The whole form as name=v1,v2;name2=v3, built in `line`: copy it before
    // the parser is used again.
    const ByteString& FormText();

    int32_t curField = -1;  // field that receives data; -1 after a failed lookup
    int32_t curValue = 0;   // value of curField being filled
    ByteString line;        // work string: content type, URL-encoded pair, multipart line, form text
    InputBuffer* body = nullptr;  // the body being parsed; not owned
    ByteString delimiter;         // "--" followed by the multipart boundary
    ByteString contentType;       // set by the owner before each Parse
    FormFieldList fields;
    UploadedFileList files;

    // Temporary files are written through a put buffer of this size.
    static constexpr uint32_t kFileBufferSize = 8192;

private:
    // Scratch strings and splitters of ParsePart and CopyPartData, made once
    // per parser rather than once per part.
    struct PartScratch;
    struct PartScratchDeleter {
        void operator()(PartScratch* scratch) const;
    };
    PartScratch& Scratch();

    // Passes the current part's data to sink (Put(bytes, count)) up to the
    // next delimiter. Returns 1 when another part follows, 0 after the
    // closing delimiter or at the end of the body.
    template <typename Sink>
    int CopyPartData(Sink& sink);

    // Adds value at the end of the field's values, or as the first value of a
    // new field; leaves curField and curValue on it.
    void AddValue(const ByteString& name, const ByteString& value);
    // Splits one URL-encoded pair into name and value (scratch strings of
    // the caller) and adds the value.
    void AddPair(const ByteString& pair, ByteString& name, ByteString& value);
    void StoreFilePart(const ByteString& fieldName, const ByteString& fileName);

    FieldIndex index_;
    std::unique_ptr<PartScratch, PartScratchDeleter> scratch_;
};
