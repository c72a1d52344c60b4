#pragma once
#include "support/UniqueAny.h"

namespace qor {

// Exceptions of the support library, thrown by value. An alarm carries a
// category and a fixed message (constant texts, not copied) and, where there
// is one, its own copy of a detail such as the path concerned.
class XAlarm {
public:
    XAlarm(const char* category, const char* message, const char* detail);
    XAlarm(const XAlarm& other);
    XAlarm(XAlarm&& other) noexcept = default;
    XAlarm& operator=(XAlarm other) noexcept;
    virtual ~XAlarm() = default;

    const char* Category() const { return category_; }
    const char* Message() const { return message_; }
    // Null when the alarm has no detail.
    const char* Detail() const { return detail_.get(); }

private:
    // A text copied with CopyOf.
    using UniqueText = UniqueAny<char*, &DeleteArray<char>>;
    static char* CopyOf(const char* text);

    const char* category_;
    const char* message_;
    UniqueText detail_;
};

// Failure of the file layer: category "File System: ".
class XFileAlarm : public XAlarm {
public:
    static constexpr const char* kCategory = "File System: ";

    XFileAlarm(const char* message, const char* detail) : XAlarm(kCategory, message, detail) {}
};

}  // namespace qor
