#include "support/ChunkedInput.h"

#include <algorithm>
#include <cstring>

namespace qor {

ChunkedInput::ChunkedInput(uint32_t total, uint32_t chunk) : total_(total), chunk_(chunk != 0 ? chunk : 1) {
    SetBuffer(std::min(chunk_, kGetBufferSize));
}

uint32_t ChunkedInput::RawRead(unsigned char* destination, uint32_t count) {
    if (taken_ == held_) {
        if (received_ >= total_) return 0;
        const uint32_t ask = std::min(chunk_, total_ - received_);
        // A source never gives more than asked: the rest is not looked at.
        held_ = std::min(ReadChunk(ask, chunkBytes_), ask);
        taken_ = 0;
        if (held_ == 0) EndedEarly(received_, total_);
        received_ += held_;
    }
    const uint32_t n = std::min(count, held_ - taken_);
    std::memcpy(destination, chunkBytes_ + taken_, n);
    taken_ += n;
    return n;
}

}  // namespace qor
