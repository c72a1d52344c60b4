#include "support/InputBuffer.h"

#include <utility>

namespace qor {

void InputBuffer::SetBuffer(uint32_t size) {
    UniqueByteArray buffer(size ? new unsigned char[size] : nullptr);
    if (readIndex_ < validCount_) mediumPosition_ -= validCount_ - readIndex_;
    getBuffer_ = std::move(buffer);
    data_ = getBuffer_.get();
    ahead_ = 0;
    size_ = size;
    validCount_ = size;
    readIndex_ = size;
}

bool InputBuffer::Refill() {
    uint32_t n = RawReadView(getBuffer_.get(), size_, data_);
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
    ahead_ = 0;
    if (validCount_ != 0) {
        if (!Refill()) return *this;
        lastByte_ = data_[readIndex_++];
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
    ahead_ = 0;
    if (validCount_ == 0) return 0;
    if (readIndex_ == validCount_ && !Refill()) return 0;
    run = data_ + readIndex_;
    ahead_ = data_ != getBuffer_.get() ? RawContiguous(mediumPosition_, data_ + validCount_) : 0;
    return validCount_ - readIndex_ + ahead_;
}

void InputBuffer::ConsumeAhead(uint32_t count) {
    const uint32_t here = readIndex_ < validCount_ ? validCount_ - readIndex_ : 0;
    if (validCount_ == 0 || count > here + ahead_) count = here + ahead_;
    ahead_ = 0;
    while (count != 0) {
        if (readIndex_ == validCount_ && !Refill()) return;
        const uint32_t room = validCount_ - readIndex_;
        const uint32_t n = count < room ? count : room;
        readIndex_ += n;
        count -= n;
        lastByte_ = data_[readIndex_ - 1];
    }
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

}  // namespace qor
