#pragma once
#include <cstdint>

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
    void ParseMultipart(InputBuffer& input);

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
    ByteString line;        // work string: content type, body, line, form text
    InputBuffer* body = nullptr;  // the body being parsed; not owned
    ByteString delimiter;         // "--" followed by the multipart boundary
    ByteString contentType;       // set by the owner before each Parse
    FormFieldList fields;
    UploadedFileList files;

private:
    FieldIndex index_;
};
