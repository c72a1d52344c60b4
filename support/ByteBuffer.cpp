#include "ByteBuffer.h"

ByteBuffer::ByteBuffer(int32_t syncMode, uint32_t bufferSize) : ByteStream(syncMode), storage_(16) {
    OutputBuffer::SetBuffer(bufferSize);
    InputBuffer::SetBuffer(bufferSize);
}

ByteBuffer::~ByteBuffer() {
    // The storage dies with us, so a failed flush loses nothing anyone reads.
    try {
        Flush();
    } catch (...) {
    }
}

uint32_t ByteBuffer::RawWrite(const unsigned char* bytes, uint32_t count) {
    BeforeRawWrite();
    const uint32_t overwritten = storage_.Overwrite(WritePosition(), bytes, count);
    storage_.PushBytes(bytes + overwritten, count - overwritten);
    AfterRawWrite(count);
    return count;
}

uint32_t ByteBuffer::RawRead(unsigned char* destination, uint32_t count) {
    BeforeRawRead();
    const uint32_t copied = storage_.CopyOut(MediumPosition(), destination, count);
    AfterRawRead(count);
    return copied;
}
