#include "TokenSplitter.h"

#include <cstring>

#include "ByteString.h"

TokenSplitter::TokenSplitter() {
    Mark(delimiters_, kDelimiter);
    Mark(blanks_, kBlank);
}

TokenSplitter::TokenSplitter(ByteString& target, const char* delimiters, const char* blanks)
    : target_(&target), delimiters_(delimiters), blanks_(blanks) {
    Mark(delimiters_, kDelimiter);
    Mark(blanks_, kBlank);
}

void TokenSplitter::Mark(const char* set, uint8_t flag) {
    for (auto& c : classes_) c &= static_cast<uint8_t>(~flag);
    for (const char* p = set ? set : ""; *p; ++p) classes_[static_cast<unsigned char>(*p)] |= flag;
}

void TokenSplitter::SetDelimiters(const char* delimiters) {
    delimiters_ = delimiters;
    Mark(delimiters_, kDelimiter);
}

void TokenSplitter::SetBlanks(const char* blanks) {
    blanks_ = blanks;
    Mark(blanks_, kBlank);
}

uint32_t TokenSplitter::Token(ByteString& out, uint32_t n, uint32_t start) const {
    out.Clear();
    if (target_ == nullptr) return 0;
    const auto* text = reinterpret_cast<const unsigned char*>(target_->Text());
    uint32_t pos = start <= target_->Length() ? start : target_->Length();

    while (IsBlank(text[pos])) ++pos;
    for (; n != 0 && text[pos] != 0; ++pos)
        if (IsDelimiter(text[pos])) --n;
    while (IsBlank(text[pos])) ++pos;

    const uint32_t begin = pos;
    while (text[pos] != 0 && !IsDelimiter(text[pos])) ++pos;
    out.AppendBytes(reinterpret_cast<const char*>(text) + begin, pos - begin);
    return pos;
}

uint32_t TokenSplitter::TokenCount(uint32_t start) const {
    if (target_ == nullptr) return 0;
    const auto* text = reinterpret_cast<const unsigned char*>(target_->Text());
    uint32_t pos = start <= target_->Length() ? start : target_->Length();
    uint32_t count = 0;
    bool opening = true;
    for (; text[pos] != 0; ++pos) {
        const uint8_t cls = classes_[text[pos]];
        if (opening && !(cls & kBlank)) {
            ++count;
            opening = false;
        }
        if (cls & kDelimiter) opening = true;
    }
    return count;
}

void TokenSplitter::TrimLeft() {
    if (target_ == nullptr) return;
    char* text = target_->MutableText();
    const uint32_t length = static_cast<uint32_t>(std::strlen(text));
    uint32_t skip = 0;
    while (IsBlank(static_cast<unsigned char>(text[skip]))) ++skip;
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
