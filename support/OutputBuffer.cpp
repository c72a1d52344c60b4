#include "support/OutputBuffer.h"

#include <cstring>

namespace qor {

void OutputBuffer::SetBuffer(uint32_t size) {
    Flush();
    putBuffer_.reset(size ? new unsigned char[size] : nullptr);
    size_ = size;
    fill_ = 0;
}

void OutputBuffer::PutLastByteSlow() {
    if (size_ == 0) {
        RawWrite(&lastByte_, 1);
        return;
    }
    RawWrite(putBuffer_.get(), size_);
    fill_ = 0;
    putBuffer_.get()[fill_++] = lastByte_;
}

void OutputBuffer::PutBytesSlow(const unsigned char* bytes, uint32_t count) {
    if (count == 0) return;
    if (size_ == 0) {
        for (uint32_t i = 0; i < count; ++i) {
            lastByte_ = bytes[i];
            RawWrite(&lastByte_, 1);
        }
        return;
    }
    while (count != 0) {
        if (fill_ == size_) {
            lastByte_ = bytes[0];  // as PutByte has it when the write happens
            RawWrite(putBuffer_.get(), size_);
            fill_ = 0;
        }
        // An empty buffer and more than a buffer's worth at hand: PutByte
        // would fill the buffer and hand it on at the next byte, so the medium
        // gets the very same block straight from the caller's bytes.
        if (fill_ == 0 && count > size_) {
            lastByte_ = bytes[size_];
            RawWrite(bytes, size_);
            bytes += size_;
            count -= size_;
            continue;
        }
        const uint32_t room = size_ - fill_;
        const uint32_t n = count < room ? count : room;
        std::memcpy(putBuffer_.get() + fill_, bytes, n);
        fill_ += n;
        bytes += n;
        count -= n;
        lastByte_ = bytes[-1];
    }
}

void OutputBuffer::Flush() {
    if (size_ == 0 || fill_ == 0) return;
    RawWrite(putBuffer_.get(), fill_);
    fill_ = 0;
}

}  // namespace qor
