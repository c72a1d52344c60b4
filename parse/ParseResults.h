#pragma once
#include <cstdint>
#include <utility>

#include "support/ByteString.h"
#include "support/TemporaryFile.h"
#include "parse/OrderedList.h"

namespace qor {

// A ByteString points only at its own heap text (or the shared empty text).
template <>
inline constexpr bool kRelocatable<ByteString> = true;

// A value list keeps its first value inside itself.
using ByteStringList = OrderedList<ByteString, 1>;

// One text field: its name and its values in body order (at least one once
// the field is in the parser's list).
struct FormField {
    // Most fields carry a single value: start with the list's inline room
    // for one and double from there, so a body of many small fields costs no
    // value-list allocation per field.
    static constexpr uint32_t kInitialValueRoom = 1;

    ByteString name;
    ByteStringList values{kInitialValueRoom};

    FormField() = default;
    FormField(ByteString fieldName, ByteString firstValue) : name(std::move(fieldName)) {
        values.Append(std::move(firstValue));
    }
};

// One stored file part. The data sits in the temporary file that tmpPath
// owns: destroying the record, or taking it back with a failed parse,
// deletes the file.
struct UploadedFile {
    ByteString fieldName;
    ByteString userPath;  // as the browser sent it, directories included
    TemporaryFile tmpPath;
    ByteString contentType;  // the part's Content-Type value, blanks trimmed; empty when it had none
    int32_t size = 0;
};

// Both members are relocatable, so the field list grows by realloc.
template <>
inline constexpr bool kRelocatable<FormField> = kRelocatable<ByteString> && kRelocatable<ByteStringList>;
static_assert(kRelocatable<FormField>);

using FormFieldList = OrderedList<FormField>;
using UploadedFileList = OrderedList<UploadedFile>;

}  // namespace qor
