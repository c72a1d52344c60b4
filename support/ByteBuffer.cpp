#include "support/ByteBuffer.h"

namespace qor {

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

uint32_t ByteBuffer::RawReadView(unsigned char* destination, uint32_t count, const unsigned char*& bytes) {
    BeforeRawRead();
    const uint32_t position = MediumPosition();
    const uint32_t stored = position < storage_.Length() ? storage_.Length() - position : 0;
    const uint32_t wanted = count < stored ? count : stored;
    uint32_t inPage = wanted;
    const unsigned char* span = storage_.Span(position, inPage);
    uint32_t delivered = wanted;
    if (span != nullptr && inPage == wanted) {
        bytes = span;
    } else {
        bytes = destination;
        delivered = storage_.CopyOut(position, destination, count);
    }
    AfterRawRead(count);
    return delivered;
}

uint32_t ByteBuffer::RawContiguous(uint32_t position, const unsigned char* at) const {
    uint32_t count = UINT32_MAX;
    return storage_.Span(position, count) == at ? count : 0;
}

}  // namespace qor
