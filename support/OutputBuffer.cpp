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
    Flush();
    lastByte_ = bytes[count - 1];
    if (count >= size_) {
        RawWrite(bytes, count);
        return;
    }
    std::memcpy(putBuffer_.get(), bytes, count);
    fill_ = count;
}

void OutputBuffer::Flush() {
    if (size_ == 0 || fill_ == 0) return;
    RawWrite(putBuffer_.get(), fill_);
    fill_ = 0;
}

}  // namespace qor
