#pragma once
#include <cstdint>

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
    // allocates again on its next growth.
    ByteString(ByteString&& other) noexcept;
    ByteString& operator=(const ByteString& other) { return Assign(other); }
    ByteString& operator=(ByteString&& other) noexcept;
    ~ByteString();

    // An empty string that owns no storage yet (capacity 0), as a moved-from
    // string is; it allocates on its first growth. Costs nothing to hold, for
    // lists of many empty values.
    static ByteString WithoutStorage() noexcept { return ByteString(NoStorage{}); }

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
    // into a string of capacity 0.
    char* MutableText() { return text_; }
    void SetLength(uint32_t length) { length_ = length; }

    // Capacity rule for a required length: the smallest multiple of 16 above it.
    static uint32_t CapacityFor(uint32_t length);

private:
    struct NoStorage {};
    explicit ByteString(NoStorage) noexcept;
    void GrowForPush();
    void Grow(uint32_t capacity);

    char* text_;
    uint32_t capacity_;
    uint32_t length_;
};

}  // namespace qor
