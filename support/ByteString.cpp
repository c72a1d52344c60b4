#include "support/ByteString.h"

#include <cstring>
#include <new>
#include <utility>

namespace qor {

ByteString::ByteString() : text_(new char[17]), capacity_(16), length_(0) { text_[0] = 0; }

ByteString::ByteString(const ByteString& other)
    : text_(nullptr), capacity_(CapacityFor(other.length_)), length_(other.length_) {
    text_ = new char[capacity_ + 1];
    std::memcpy(text_, other.text_, length_);
    text_[length_] = 0;
}

uint32_t ByteString::CapacityFor(uint32_t length) {
    if (length >= UINT32_MAX - 16) throw std::bad_alloc();
    return length + 16 - (length % 16);
}

void ByteString::GrowForPush() {
    if (capacity_ == 0) return Grow(length_ < 16 ? 16 : CapacityFor(length_));
    if (capacity_ > UINT32_MAX / 2 - 1) throw std::bad_alloc();
    Grow(capacity_ + capacity_);
}

void ByteString::Grow(uint32_t capacity) {
    char* grown = new char[capacity + 1];
    std::memcpy(grown, text_, length_ + 1);
    if (capacity_ != 0) delete[] text_;
    text_ = grown;
    capacity_ = capacity;
}

ByteString& ByteString::Assign(const char* text) {
    if (text == nullptr) text = "";
    const size_t length = std::strlen(text);
    if (length >= UINT32_MAX - 16) throw std::bad_alloc();
    if (length > capacity_ || capacity_ == 0) {
        // The text may be our own (a view's): it is copied before the old
        // storage goes.
        const uint32_t capacity = CapacityFor(static_cast<uint32_t>(length));
        char* grown = new char[capacity + 1];
        std::memcpy(grown, text, length + 1);
        if (capacity_ != 0) delete[] text_;
        text_ = grown;
        capacity_ = capacity;
        length_ = static_cast<uint32_t>(length);
        return *this;
    }
    std::memmove(text_, text, length + 1);
    length_ = static_cast<uint32_t>(length);
    return *this;
}

void ByteString::Append(const char* text) {
    if (text == nullptr) return;
    const size_t length = std::strlen(text);
    if (length > UINT32_MAX) throw std::bad_alloc();
    AppendBytes(text, static_cast<uint32_t>(length));
}

void ByteString::AppendBytes(const char* bytes, uint32_t count) {
    if (count == 0) return;
    if (count > UINT32_MAX - length_) throw std::bad_alloc();
    const uint32_t needed = length_ + count;
    if (needed > capacity_) {
        // Same capacities as repeated PushChar: keep doubling.
        uint64_t capacity = capacity_ ? capacity_ : 16;
        while (capacity < needed) capacity += capacity;
        if (capacity >= UINT32_MAX) throw std::bad_alloc();
        // Bytes taken from our own text move with it.
        const auto from = reinterpret_cast<uintptr_t>(bytes);
        const auto own = reinterpret_cast<uintptr_t>(text_);
        const bool inside = from >= own && from <= own + length_;
        Grow(static_cast<uint32_t>(capacity));
        if (inside) bytes = text_ + (from - own);
    }
    std::memmove(text_ + length_, bytes, count);
    length_ = needed;
    text_[length_] = 0;
}

void ByteString::CopyRange(ByteString& target, uint32_t start, uint32_t end) const {
    if (end == 0 || end > length_) end = length_;
    if (&target == this) {  // keep part of our own text
        const uint32_t count = start < end ? end - start : 0;
        if (capacity_ == 0 && count != 0) {  // a view is never written: the part is copied out
            ByteString part = WithoutStorage();
            part.AppendBytes(text_ + start, count);
            target = std::move(part);
            return;
        }
        std::memmove(target.text_, target.text_ + start, count);
        if (target.capacity_ != 0) target.text_[count] = 0;
        target.length_ = count;
        return;
    }
    target.Clear();
    if (start < end) target.AppendBytes(text_ + start, end - start);
}

bool ByteString::Equals(const char* text) const { return std::strcmp(text_, text ? text : "") == 0; }

}  // namespace qor
