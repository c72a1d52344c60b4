#pragma once
#include "support/ByteStream.h"
#include "support/PagedBytes.h"

namespace qor {

// In-memory ByteStream: what is written with PutByte is appended to paged
// storage and read back through the InputBuffer side. Raises nothing but
// std::bad_alloc; the end of the stored bytes is reported by the good flag.
class ByteBuffer : public ByteStream {
public:
    // Both sides get a buffer of bufferSize bytes (0: unbuffered).
    ByteBuffer(int32_t syncMode, uint32_t bufferSize);
    ~ByteBuffer() override;

    const PagedBytes& Storage() const { return storage_; }

protected:
    uint32_t RawWrite(const unsigned char* bytes, uint32_t count) override;
    uint32_t RawRead(unsigned char* destination, uint32_t count) override;
    // Every raw access names its own position: nothing to prepare.
    void RawSeek(uint32_t) override {}
    // A block that lies in one page is read in place: pages never move, and
    // the writer only appends, so stored bytes never change.
    uint32_t RawReadView(unsigned char* destination, uint32_t count, const unsigned char*& bytes) override;
    uint32_t RawContiguous(uint32_t position, const unsigned char* at) const override;

private:
    PagedBytes storage_;
};

}  // namespace qor
