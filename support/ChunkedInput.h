#pragma once
#include <cstdint>

#include "support/InputBuffer.h"

namespace qor {

// Reads a body of known length from a source that hands it out in chunks:
// each chunk is asked for only when the one before is used up, and never for
// more than the chunk size or what is left of the body, so that no more than
// one chunk is held at a time. A source may answer with fewer bytes than
// asked; the reader goes on with what came and asks for the rest. A source
// that answers with nothing before the body's end makes EndedEarly raise.
// Raises only what the source raises, and std::bad_alloc for the get buffer.
class ChunkedInput : public InputBuffer {
public:
    // The get buffer in front of the chunks: large enough for bulk parsing,
    // small beside any chunk worth asking for.
    static constexpr uint32_t kGetBufferSize = 65536;

    ChunkedInput(uint32_t total, uint32_t chunk);

protected:
    // Asks the source for up to count (at least 1) bytes: points bytes at
    // them, valid until the next call, and returns how many it gave (0 when
    // it has nothing more).
    virtual uint32_t ReadChunk(uint32_t count, const unsigned char*& bytes) = 0;
    // The source ended after `received` of `total` bytes: must raise.
    [[noreturn]] virtual void EndedEarly(uint32_t received, uint32_t total) = 0;

    uint32_t RawRead(unsigned char* destination, uint32_t count) override;
    void RawSeek(uint32_t) override {}

private:
    const uint32_t total_;
    const uint32_t chunk_;
    uint32_t received_ = 0;
    const unsigned char* chunkBytes_ = nullptr;  // the chunk being read
    uint32_t held_ = 0, taken_ = 0;
};

}  // namespace qor
