#pragma once
#include <cstdint>

#include "support/UniqueAny.h"

namespace qor {

// Byte reader with an optional get buffer in front of a medium. GetByte
// delivers one byte at a time; the good flag reports the end of the medium,
// and once cleared it stays cleared.
class InputBuffer {
public:
    InputBuffer() = default;
    InputBuffer(const InputBuffer&) = delete;
    InputBuffer& operator=(const InputBuffer&) = delete;
    virtual ~InputBuffer() = default;

    // A nonzero size gives a get buffer that the first GetByte refills; 0
    // makes reading unbuffered. Bytes buffered but not yet delivered are read
    // from the medium again rather than lost.
    void SetBuffer(uint32_t size);

    // Stores the next byte in c. At the end c is left as it was, good becomes
    // 0 and the last byte 0; every later call asks the medium again.
    InputBuffer& GetByte(unsigned char& c) {
        if (readIndex_ < validCount_) {
            lastByte_ = data_[readIndex_++];
            c = lastByte_;
            return *this;
        }
        return GetByteSlow(c);
    }

    // Bulk counterparts of GetByte: each delivers the same bytes, in order,
    // as the equivalent run of GetByte calls, and leaves the good flag and
    // the last byte as they would.
    //
    // GetRun takes up to max following bytes as one contiguous run, valid until
    // the next call on this reader; 0 at the end.
    uint32_t GetRun(const unsigned char*& run, uint32_t max);
    // PeekRun shows the bytes waiting in the get buffer without taking them,
    // refilling it first when it is used up (as the next GetByte would). When
    // the medium holds the bytes after them in the same memory, the run goes
    // on over those too. It returns 0 at the end, and also when reading is
    // unbuffered: tell the two apart with Good() and fall back to GetByte for
    // the latter.
    uint32_t PeekRun(const unsigned char*& run);
    // Takes count bytes of the run that PeekRun showed (never more than it
    // showed).
    void Consume(uint32_t count) {
        if (readIndex_ < validCount_ && count <= validCount_ - readIndex_) {
            if (count == 0) return;
            readIndex_ += count;
            lastByte_ = data_[readIndex_ - 1];
            return;
        }
        ConsumeAhead(count);
    }

    bool Good() const { return good_ != 0; }
    explicit operator bool() const { return good_ != 0; }
    unsigned char LastByte() const { return lastByte_; }
    // How many bytes have been taken from the medium so far.
    uint32_t MediumPosition() const { return mediumPosition_; }

protected:
    // Copies up to count bytes from the medium, starting at MediumPosition(),
    // into destination; returns how many (0 at the end). Does not move the
    // medium position: the reader does.
    virtual uint32_t RawRead(unsigned char* destination, uint32_t count) = 0;
    // Prepares the medium for the next raw access at position.
    virtual void RawSeek(uint32_t position) = 0;
    // RawRead for a refill of the get buffer, with the same effects on the
    // medium. A medium that holds the bytes in memory, contiguous and
    // unchanged until its next raw read, may point bytes at them instead of
    // copying them into destination; otherwise bytes is destination.
    virtual uint32_t RawReadView(unsigned char* destination, uint32_t count, const unsigned char*& bytes) {
        bytes = destination;
        return RawRead(destination, count);
    }
    // How many bytes from position on the medium holds already, in memory
    // that starts exactly at `at`; 0 when it cannot tell. Touches nothing.
    virtual uint32_t RawContiguous(uint32_t /*position*/, const unsigned char* /*at*/) const { return 0; }

private:
    InputBuffer& GetByteSlow(unsigned char& c);
    void ConsumeAhead(uint32_t count);
    // Reads the next block into the get buffer; false at the end.
    bool Refill();
    void MarkEnd() {
        good_ = 0;
        lastByte_ = 0;
    }

    unsigned char lastByte_ = 0;
    int32_t good_ = 1;
    UniqueByteArray getBuffer_;
    const unsigned char* data_ = nullptr;  // the current block: the get buffer or the medium's own bytes
    uint32_t validCount_ = 0;  // 0: unbuffered, also once the end was met
    uint32_t size_ = 0;
    uint32_t readIndex_ = 0;
    uint32_t mediumPosition_ = 0;
    uint32_t ahead_ = 0;  // bytes the last PeekRun showed beyond the current block
};

}  // namespace qor
