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
// Runs point into the current chunk, which stays valid until the next one is
// asked for, so the whole rest of a chunk is one run.
// Raises only what the source raises, and std::bad_alloc for the get buffer.
class ChunkedInput : public InputBuffer {
public:
    // How far one refill reaches into a chunk.
    static constexpr uint32_t kGetBufferSize = 65536;

    ChunkedInput(uint32_t total, uint32_t chunk) : ChunkedInput(total, chunk, false) {}

protected:
    // whole: the body is asked for in one chunk of `total` bytes (chunk is
    // not used); the first answer is the body, however short, and the source
    // is asked nothing more.
    ChunkedInput(uint32_t total, uint32_t chunk, bool whole);

    // Asks the source for up to count (at least 1) bytes: points bytes at
    // them, valid until the next call, and returns how many it gave (0 when
    // it has nothing more).
    virtual uint32_t ReadChunk(uint32_t count, const unsigned char*& bytes) = 0;
    // The source ended after `received` of `total` bytes: must raise.
    [[noreturn]] virtual void EndedEarly(uint32_t received, uint32_t total) = 0;

    uint32_t RawRead(unsigned char* destination, uint32_t count) override;
    void RawSeek(uint32_t) override {}
    uint32_t RawReadView(unsigned char* destination, uint32_t count, const unsigned char*& bytes) override;
    uint32_t RawContiguous(uint32_t position, const unsigned char* at) const override;

private:
    // Up to count bytes of the current chunk, asking for the next one first
    // when it is used up; 0 at the end.
    uint32_t NextBytes(uint32_t count, const unsigned char*& bytes);

    uint32_t total_;
    const uint32_t chunk_;
    const bool whole_ = false;
    uint32_t received_ = 0;
    const unsigned char* chunkBytes_ = nullptr;  // the chunk being read
    uint32_t held_ = 0, taken_ = 0;
};

}  // namespace qor
