#pragma once
#include <cstdint>

// Growable, NUL-terminated 8-bit string. Characters are bytes; every comparison
// is byte-exact. The parser's TokenSplitter edits text/length in place, so the
// fields are reachable through the accessors below.
class ByteString {
public:
    ByteString();
    ByteString(const ByteString& other);
    ByteString& operator=(const ByteString& other) { return Assign(other); }
    ~ByteString();

    ByteString& Assign(const char* text);
    ByteString& Assign(const ByteString& other) { return Assign(other.Text()); }
    void Append(const char* text);
    // Appends count bytes as PushChar would, one growth step at a time.
    void AppendBytes(const char* bytes, uint32_t count);

    void PushChar(char c) {
        if (length_ >= capacity_) Grow(capacity_ + capacity_);
        text_[length_++] = c;
        text_[length_] = 0;
    }

    void Clear() { text_[0] = 0; length_ = 0; }
    uint32_t Length() const { return length_; }
    uint32_t Capacity() const { return capacity_; }
    const char* Text() const { return text_; }
    char CharAt(uint32_t index) const { return index < length_ ? text_[index] : 0; }

    void CopyRange(ByteString& target, uint32_t start, uint32_t end) const;

    bool Equals(const char* text) const;
    bool Equals(const ByteString& other) const { return Equals(other.Text()); }

    // In-place editing for the token splitter: the caller keeps the invariant
    // text[length] == 0 by writing the terminator itself.
    char* MutableText() { return text_; }
    void SetLength(uint32_t length) { length_ = length; }

    // Capacity rule for a required length: the smallest multiple of 16 above it.
    static uint32_t CapacityFor(uint32_t length) { return length + 16 - (length % 16); }

private:
    void Grow(uint32_t capacity);

    char* text_;
    uint32_t capacity_;
    uint32_t length_;
};
