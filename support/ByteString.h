#pragma once
#include <cstdint>
#include <utility>

namespace qor {

// Growable, NUL-terminated 8-bit string. Characters are bytes; every comparison
// is byte-exact. The parser's TokenSplitter edits text/length in place, so the
// fields are reachable through the accessors below.
//
// Failed allocations and lengths beyond 32 bits raise std::bad_alloc.
class ByteString {
public:
    ByteString();
    ByteString(const ByteString& other);
    // Takes over the array; the source is left empty with capacity 0 and
    // allocates again on its next growth. Inline, as the lists move strings
    // by the thousand.
    ByteString(ByteString&& other) noexcept : text_(other.text_), capacity_(other.capacity_), length_(other.length_) {
        other.text_ = emptyText_;
        other.capacity_ = 0;
        other.length_ = 0;
    }
    ByteString& operator=(const ByteString& other) { return Assign(other); }
    // Swaps the two strings.
    ByteString& operator=(ByteString&& other) noexcept {
        std::swap(text_, other.text_);
        std::swap(capacity_, other.capacity_);
        std::swap(length_, other.length_);
        return *this;
    }
    // A string of capacity 0 owns no storage: it shows the empty text or one
    // it views.
    ~ByteString() {
        if (capacity_ != 0) delete[] text_;
    }

    // An empty string that owns no storage yet (capacity 0), as a moved-from
    // string is; it allocates on its first growth. Costs nothing to hold, for
    // lists of many empty values.
    static ByteString WithoutStorage() noexcept { return ByteString(NoStorage{}); }
    // A string that reads text it does not own (capacity 0, as above): text
    // must hold length bytes and a NUL after them, and stay unchanged until
    // the string goes or grows. Growing copies the text into storage of the
    // string's own; nothing is ever written into the viewed text.
    static ByteString Viewing(const char* text, uint32_t length) noexcept {
        return ByteString(const_cast<char*>(text), length);
    }

    // A null text counts as the empty text.
    ByteString& Assign(const char* text);
    ByteString& Assign(const ByteString& other) { return Assign(other.Text()); }
    void Append(const char* text);
    // Appends count bytes (NULs included) with the capacities that count
    // PushChar calls would pass through.
    void AppendBytes(const char* bytes, uint32_t count);

    void PushChar(char c) {
        if (length_ >= capacity_) GrowForPush();
        text_[length_++] = c;
        text_[length_] = 0;
    }

    void Clear() {
        if (length_ == 0) return;  // text_[0] is already the terminator
        if (capacity_ == 0) return static_cast<void>(*this = WithoutStorage());  // a view is let go
        text_[0] = 0;
        length_ = 0;
    }
    uint32_t Length() const { return length_; }
    uint32_t Capacity() const { return capacity_; }
    const char* Text() const { return text_; }
    char CharAt(uint32_t index) const { return index < length_ ? text_[index] : 0; }

    // Target receives [start, end); end 0 means the length, and an end beyond
    // the length is cut to it.
    void CopyRange(ByteString& target, uint32_t start, uint32_t end) const;

    bool Equals(const char* text) const;
    bool Equals(const ByteString& other) const { return Equals(other.Text()); }

    // In-place editing for the token splitter: the caller keeps the invariant
    // text[length] == 0 by writing the terminator itself, and writes nothing
    // into a string of capacity 0 (an empty or a viewing string).
    char* MutableText() { return text_; }
    void SetLength(uint32_t length) { length_ = length; }

    // Capacity rule for a required length: the smallest multiple of 16 above it.
    static uint32_t CapacityFor(uint32_t length);

private:
    // Text of a moved-from string: capacity 0, never written, never freed.
    static inline char emptyText_[1] = {0};

    struct NoStorage {};
    explicit ByteString(NoStorage) noexcept : text_(emptyText_), capacity_(0), length_(0) {}
    ByteString(char* viewed, uint32_t length) noexcept : text_(viewed), capacity_(0), length_(length) {}
    void GrowForPush();
    void Grow(uint32_t capacity);

    char* text_;
    uint32_t capacity_;
    uint32_t length_;
};

}  // namespace qor
