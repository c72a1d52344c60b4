#include "ByteString.h"

#include <cstring>

ByteString::ByteString() : text_(new char[17]), capacity_(16), length_(0) { text_[0] = 0; }

ByteString::ByteString(const ByteString& other)
    : text_(nullptr), capacity_(CapacityFor(other.length_)), length_(other.length_) {
    text_ = new char[capacity_ + 1];
    std::memcpy(text_, other.text_, length_);
    text_[length_] = 0;
}

ByteString::~ByteString() { delete[] text_; }

void ByteString::Grow(uint32_t capacity) {
    char* grown = new char[capacity + 1];
    std::memcpy(grown, text_, length_ + 1);
    delete[] text_;
    text_ = grown;
    capacity_ = capacity;
}

ByteString& ByteString::Assign(const char* text) {
    if (text == text_) return *this;
    const uint32_t length = static_cast<uint32_t>(std::strlen(text));
    if (length > capacity_) {
        // A text that aliases our own array cannot be longer than it, so the
        // old array may go before the copy.
        char* grown = new char[CapacityFor(length) + 1];
        delete[] text_;
        text_ = grown;
        capacity_ = CapacityFor(length);
    }
    std::memmove(text_, text, length + 1);
    length_ = length;
    return *this;
}

void ByteString::Append(const char* text) { AppendBytes(text, static_cast<uint32_t>(std::strlen(text))); }

void ByteString::AppendBytes(const char* bytes, uint32_t count) {
    if (count == 0) return;
    uint32_t needed = length_ + count;
    if (needed > capacity_) {
        // Same capacities as repeated PushChar: keep doubling.
        uint32_t capacity = capacity_;
        while (capacity < needed) capacity += capacity;
        Grow(capacity);
    }
    std::memcpy(text_ + length_, bytes, count);
    length_ = needed;
    text_[length_] = 0;
}

void ByteString::CopyRange(ByteString& target, uint32_t start, uint32_t end) const {
    if (end == 0) end = length_;
    target.Clear();
    if (start < length_ && start < end) target.AppendBytes(text_ + start, end - start);
}

bool ByteString::Equals(const char* text) const { return std::strcmp(text_, text) == 0; }
