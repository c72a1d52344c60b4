#include "parse/FileDataSink.h"

#include <cstring>

#include "parse/ParseLimits.h"
#include "support/XFile.h"

namespace qor {

void FileDataSink::Put(const unsigned char* bytes, uint32_t count) {
    // Nothing of a run that would take the file past its bound is written.
    if (maxBytes_ != 0 && count > maxBytes_ - static_cast<uint32_t>(size_))
        throw ParseLimitExceeded(ParseLimitExceeded::Limit::FileBytes, maxBytes_);
    // Unsigned arithmetic: a size beyond 31 bits wraps instead of overflowing.
    size_ = static_cast<int32_t>(static_cast<uint32_t>(size_) + count);
    if (count < kDirectWrite) return Gather(bytes, count);
    Flush();
    WriteStraight(bytes, count);
}

void FileDataSink::Gather(const unsigned char* bytes, uint32_t count) {
    if (count != 0 && !gather_) gather_.reset(new unsigned char[kLargeWrite]);
    while (count != 0) {
        const uint32_t room = kLargeWrite - gathered_;
        const uint32_t n = count < room ? count : room;
        std::memcpy(gather_.get() + gathered_, bytes, n);
        gathered_ += n;
        bytes += n;
        count -= n;
        if (gathered_ == kLargeWrite) Flush();
    }
}

void FileDataSink::Flush() {
    if (gathered_ == 0) return;
    // Emptied first: after a failed write nothing is written again.
    const uint32_t n = gathered_;
    gathered_ = 0;
    writer_.PutBytes(gather_.get(), n);
}

void FileDataSink::WriteStraight(const unsigned char* bytes, uint32_t count) {
    for (uint32_t n; count != 0; bytes += n, count -= n) {
        n = count < kLargeWrite ? count : kLargeWrite;
        writer_.PutBytes(bytes, n);
    }
}

}  // namespace qor
