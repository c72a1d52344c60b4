#pragma once
#include "support/InputBuffer.h"
#include "support/OutputBuffer.h"

namespace qor {

// One medium read and written through both buffered sides. A concrete stream
// calls the Before/After hooks around each raw access to keep the medium's
// position in step with the side that uses it.
class ByteStream : public OutputBuffer, public InputBuffer {
public:
    // Mode 1: positions are synchronised (the only mode in use here).
    static constexpr int32_t kSynchronised = 1;

    explicit ByteStream(int32_t syncMode) : syncMode_(syncMode) {}

    uint32_t WritePosition() const { return writePosition_; }
    uint32_t LastAccessPosition() const { return lastAccess_; }

protected:
    void BeforeRawWrite() {
        if (syncMode_ == kSynchronised && lastAccess_ != writePosition_) RawSeek(writePosition_);
    }
    void AfterRawWrite(uint32_t count) {
        writePosition_ += count;
        lastAccess_ = writePosition_;
    }
    // Flushing first makes every byte given to PutByte visible to the reader.
    void BeforeRawRead() {
        Flush();
        if (syncMode_ == kSynchronised && lastAccess_ != MediumPosition()) RawSeek(MediumPosition());
    }
    // The count asked for, not the count delivered.
    void AfterRawRead(uint32_t count) { lastAccess_ = MediumPosition() + count; }

private:
    int32_t syncMode_;
    uint32_t lastAccess_ = 0;
    uint32_t writePosition_ = 0;
};

}  // namespace qor
