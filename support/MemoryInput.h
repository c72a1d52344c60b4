#pragma once
#include <cstdint>

#include "support/InputBuffer.h"

namespace qor {

// Reads bytes that someone else holds in memory, in place: every block and
// every run points into that memory, and nothing is copied. The memory must
// stay unchanged for as long as the reader lives. Raises nothing but
// std::bad_alloc (for the get buffer, at construction); the end of the bytes
// is reported by the good flag.
class MemoryInput : public InputBuffer {
public:
    // The get buffer is never filled, only its size matters: it is how far
    // one refill reaches.
    static constexpr uint32_t kBlockSize = 65536;

    MemoryInput(const unsigned char* bytes, uint32_t count) : bytes_(bytes), count_(count) { SetBuffer(kBlockSize); }

protected:
    uint32_t RawRead(unsigned char* destination, uint32_t count) override;
    void RawSeek(uint32_t) override {}
    uint32_t RawReadView(unsigned char* destination, uint32_t count, const unsigned char*& bytes) override;
    uint32_t RawContiguous(uint32_t position, const unsigned char* at) const override;

private:
    uint32_t Remaining(uint32_t position) const { return position < count_ ? count_ - position : 0; }

    const unsigned char* bytes_;
    uint32_t count_;
};

}  // namespace qor
