#pragma once
#include <cstdint>
#include <cstring>

#include "support/UniqueAny.h"

namespace qor {

// Byte writer with an optional put buffer in front of a medium. A full buffer
// is handed to RawWrite only when the next byte arrives, so after exactly
// `size` PutByte calls nothing has reached the medium yet.
class OutputBuffer {
public:
    OutputBuffer() = default;
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;
    // Frees the put buffer without flushing: concrete media flush in their own
    // destructors, while their RawWrite is still theirs.
    virtual ~OutputBuffer() = default;

    // A nonzero size gives a put buffer of that many bytes; 0 makes the writer
    // unbuffered. Bytes still waiting in an earlier buffer are flushed first.
    void SetBuffer(uint32_t size);

    void PutByte(unsigned char c) {
        lastByte_ = c;
        if (fill_ != size_) {
            putBuffer_.get()[fill_++] = c;
            return;
        }
        PutLastByteSlow();
    }

    // Bulk counterpart of PutByte: the bytes reach the medium in order after
    // those put before. What fits the buffer's room is copied into it;
    // otherwise the waiting bytes go out first, and then a run at least as
    // large as the buffer goes to the medium in one write, straight from the
    // caller's bytes, and a smaller one into the buffer.
    void PutBytes(const unsigned char* bytes, uint32_t count) {
        if (count != 0 && count <= size_ - fill_) {  // fits: no write either way
            std::memcpy(putBuffer_.get() + fill_, bytes, count);
            fill_ += count;
            lastByte_ = bytes[count - 1];
            return;
        }
        PutBytesSlow(bytes, count);
    }

    void Flush();

    uint32_t PutBufferSize() const { return size_; }
    uint32_t Pending() const { return fill_; }
    unsigned char LastPutByte() const { return lastByte_; }

protected:
    // Writes count bytes to the medium; the result is the medium's own and is
    // not read here.
    virtual uint32_t RawWrite(const unsigned char* bytes, uint32_t count) = 0;

    // For a medium whose write failed: the waiting bytes are dropped rather
    // than written again by a later Flush.
    void DiscardPending() { fill_ = 0; }

private:
    // A full buffer, or no buffer at all: hand bytes to the medium first.
    void PutLastByteSlow();
    void PutBytesSlow(const unsigned char* bytes, uint32_t count);

    unsigned char lastByte_ = 0;
    UniqueByteArray putBuffer_;
    uint32_t size_ = 0;
    uint32_t fill_ = 0;
};

}  // namespace qor
