#include "InputBuffer.h"

InputBuffer::~InputBuffer() { delete[] getBuffer_; }

void InputBuffer::SetBuffer(uint32_t size) {
    unsigned char* buffer = size ? new unsigned char[size] : nullptr;
    if (readIndex_ < validCount_) mediumPosition_ -= validCount_ - readIndex_;
    delete[] getBuffer_;
    getBuffer_ = buffer;
    size_ = size;
    validCount_ = size;
    readIndex_ = size;
}

bool InputBuffer::Refill() {
    uint32_t n = RawRead(getBuffer_, size_);
    if (n > size_) n = size_;  // a medium never delivers more than asked
    validCount_ = n;
    if (n == 0) {
        MarkEnd();
        return false;
    }
    readIndex_ = 0;
    mediumPosition_ += n;
    return true;
}

InputBuffer& InputBuffer::GetByteSlow(unsigned char& c) {
    if (validCount_ != 0) {
        if (!Refill()) return *this;
        lastByte_ = getBuffer_[readIndex_++];
    } else {
        if (RawRead(&lastByte_, 1) == 0) {
            MarkEnd();
            return *this;
        }
        mediumPosition_ += 1;
    }
    c = lastByte_;
    return *this;
}

uint32_t InputBuffer::PeekRun(const unsigned char*& run) {
    if (validCount_ == 0) return 0;
    if (readIndex_ == validCount_ && !Refill()) return 0;
    run = getBuffer_ + readIndex_;
    return validCount_ - readIndex_;
}

uint32_t InputBuffer::GetRun(const unsigned char*& run, uint32_t max) {
    if (max == 0) return 0;
    if (validCount_ == 0) {
        unsigned char c = 0;
        if (!GetByteSlow(c).Good()) return 0;
        run = &lastByte_;
        return 1;
    }
    uint32_t n = PeekRun(run);
    if (n == 0) return 0;
    if (n > max) n = max;
    Consume(n);
    return n;
}
