#include "support/ChunkedInput.h"

#include <algorithm>
#include <cstring>

namespace qor {

ChunkedInput::ChunkedInput(uint32_t total, uint32_t chunk, bool whole)
    : total_(total), chunk_(whole ? total : chunk != 0 ? chunk : 1), whole_(whole) {
    SetBuffer(whole ? kGetBufferSize : std::min(chunk_, kGetBufferSize));
}

uint32_t ChunkedInput::NextBytes(uint32_t count, const unsigned char*& bytes) {
    if (taken_ == held_) {
        if (received_ >= total_) return 0;
        const uint32_t ask = std::min(chunk_, total_ - received_);
        // A source never gives more than asked: the rest is not looked at.
        held_ = std::min(ReadChunk(ask, chunkBytes_), ask);
        taken_ = 0;
        received_ += held_;
        if (whole_) total_ = received_;  // a short answer is the whole body
        if (held_ == 0) {
            if (!whole_) EndedEarly(received_, total_);
            return 0;
        }
    }
    bytes = chunkBytes_ + taken_;
    const uint32_t n = std::min(count, held_ - taken_);
    taken_ += n;
    return n;
}

uint32_t ChunkedInput::RawRead(unsigned char* destination, uint32_t count) {
    const unsigned char* bytes = nullptr;
    const uint32_t n = NextBytes(count, bytes);
    if (n != 0) std::memcpy(destination, bytes, n);
    return n;
}

uint32_t ChunkedInput::RawReadView(unsigned char*, uint32_t count, const unsigned char*& bytes) {
    return NextBytes(count, bytes);
}

uint32_t ChunkedInput::RawContiguous(uint32_t, const unsigned char* at) const {
    return chunkBytes_ != nullptr && at == chunkBytes_ + taken_ ? held_ - taken_ : 0;
}

}  // namespace qor
