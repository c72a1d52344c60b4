#include "support/MemoryInput.h"

#include <cstring>

namespace qor {

uint32_t MemoryInput::RawRead(unsigned char* destination, uint32_t count) {
    const uint32_t remaining = Remaining(MediumPosition());
    const uint32_t n = count < remaining ? count : remaining;
    if (n != 0) std::memcpy(destination, bytes_ + MediumPosition(), n);
    return n;
}

uint32_t MemoryInput::RawReadView(unsigned char*, uint32_t count, const unsigned char*& bytes) {
    const uint32_t remaining = Remaining(MediumPosition());
    bytes = bytes_ + (MediumPosition() < count_ ? MediumPosition() : count_);
    return count < remaining ? count : remaining;
}

uint32_t MemoryInput::RawContiguous(uint32_t position, const unsigned char* at) const {
    return at == bytes_ + position ? Remaining(position) : 0;
}

}  // namespace qor
