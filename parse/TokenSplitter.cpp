#include "parse/TokenSplitter.h"

#include <cstring>

#include "support/ByteString.h"

namespace qor {

TokenSplitter::TokenSplitter() {
    Mark(delimiters_, kDelimiter);
    Mark(blanks_, kBlank);
}

TokenSplitter::TokenSplitter(ByteString& target, const char* delimiters, const char* blanks)
    : target_(&target), delimiters_(delimiters ? delimiters : ""), blanks_(blanks ? blanks : "") {
    Mark(delimiters_, kDelimiter);
    Mark(blanks_, kBlank);
}

void TokenSplitter::Mark(const char* set, uint8_t flag) {
    for (const char* p = set; *p; ++p) classes_[static_cast<unsigned char>(*p)] |= flag;
}

// The scans use strspn/strcspn: they stop at the NUL as the splitter must, and
// the C library runs them far faster than a byte loop.
uint32_t TokenSplitter::Locate(uint32_t n, uint32_t start, uint32_t& begin) const {
    if (target_ == nullptr) return begin = 0;
    const char* text = target_->Text();
    size_t pos = start <= target_->Length() ? start : target_->Length();

    pos = SkipBlanks(text, pos);
    while (n != 0 && text[pos] != 0) {
        pos += std::strcspn(text + pos, delimiters_);
        if (text[pos] != 0) {
            ++pos;  // just after the delimiter
            --n;
        }
    }
    pos = SkipBlanks(text, pos);
    begin = static_cast<uint32_t>(pos);
    return static_cast<uint32_t>(pos + std::strcspn(text + pos, delimiters_));
}

uint32_t TokenSplitter::Token(ByteString& out, uint32_t n, uint32_t start) const {
    out.Clear();
    uint32_t begin = 0;
    const uint32_t end = Locate(n, start, begin);
    if (target_ != nullptr) out.AppendBytes(target_->Text() + begin, end - begin);
    return end;
}

uint32_t TokenSplitter::TokenCount(uint32_t start) const {
    if (target_ == nullptr) return 0;
    const char* text = target_->Text() + (start <= target_->Length() ? start : target_->Length());
    // The first non-blank character opens a token, and so does the first
    // non-blank after each delimiter. Delimiters are not blanks, so every
    // delimiter opens one except a delimiter that is itself the last
    // non-blank character.
    if (!Disjoint()) return CountStepwise(text);
    size_t last = std::strlen(text);
    while (last != 0 && IsBlank(static_cast<unsigned char>(text[last - 1]))) --last;
    if (last == 0) return 0;
    uint32_t delimiters = 0;
    if (delimiters_[0] != 0 && delimiters_[1] == 0) {  // one delimiter: memchr
        for (const char* p = text; (p = static_cast<const char*>(std::memchr(p, delimiters_[0], text + last - p)));
             ++p)
            ++delimiters;
    } else {
        for (const char* p = text + std::strcspn(text, delimiters_); p < text + last;
             p += 1 + std::strcspn(p + 1, delimiters_))
            ++delimiters;
    }
    return 1 + delimiters - (IsDelimiter(static_cast<unsigned char>(text[last - 1])) ? 1 : 0);
}

// The counting rule applied character by character: right for any sets.
uint32_t TokenSplitter::CountStepwise(const char* text) const {
    uint32_t count = 0;
    bool opening = true;
    for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (opening && !IsBlank(*p)) {
            ++count;
            opening = false;
        }
        if (IsDelimiter(*p)) opening = true;
    }
    return count;
}

bool TokenSplitter::Disjoint() const {
    for (const char* p = delimiters_; *p; ++p)
        if (IsBlank(static_cast<unsigned char>(*p))) return false;
    return true;
}

void TokenSplitter::TrimLeft() {
    if (target_ == nullptr) return;
    char* text = target_->MutableText();
    const uint32_t length = static_cast<uint32_t>(std::strlen(text));
    const uint32_t skip = static_cast<uint32_t>(SkipBlanks(text, 0));
    if (skip != 0) std::memmove(text, text + skip, length - skip + 1);
    target_->SetLength(length - skip);
}

void TokenSplitter::TrimRight() {
    if (target_ == nullptr) return;
    char* text = target_->MutableText();
    uint32_t length = static_cast<uint32_t>(std::strlen(text));
    const uint32_t full = length;
    while (length != 0 && IsBlank(static_cast<unsigned char>(text[length - 1]))) --length;
    if (length != full) text[length] = 0;
    target_->SetLength(length);
}

void TokenSplitter::ToUpper() {
    if (target_ == nullptr) return;
    for (char* p = target_->MutableText(); *p; ++p)
        if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
}

}  // namespace qor
