#pragma once
#include <cstdint>

#include "support/UniqueAny.h"

namespace qor {

class XFile;

// Where a file part's data goes on its way to the temporary file: each run
// is counted against the file's bound and into the record's size, then
// written in large pieces. A run of at least kDirectWrite bytes goes to the
// file straight from the body's memory, in writes of at most kLargeWrite
// bytes; smaller runs (a chunk of a body read in small chunks, a tail that a
// chunk boundary cut, bytes held back as a possible delimiter) are gathered
// in a buffer of kLargeWrite bytes first, so that they too reach the file in
// large writes whatever the size of the chunks.
class FileDataSink {
public:
    static constexpr uint32_t kLargeWrite = 1u << 20;
    static constexpr uint32_t kDirectWrite = kLargeWrite / 4;

    // writer must be unbuffered; gather is the buffer's storage, made on
    // first use and kept by the caller for the next file.
    FileDataSink(XFile& writer, int32_t& size, uint32_t maxBytes, UniqueByteArray& gather)
        : writer_(writer), size_(size), maxBytes_(maxBytes), gather_(gather) {}
    FileDataSink(const FileDataSink&) = delete;
    FileDataSink& operator=(const FileDataSink&) = delete;

    // Raises ParseLimitExceeded, before anything of the run is counted or
    // written, when the run would take the file past its bound; and what the
    // writer raises.
    void Put(const unsigned char* bytes, uint32_t count);
    // Writes what is gathered; the file is complete once the writer closes.
    void Flush();

private:
    void Gather(const unsigned char* bytes, uint32_t count);
    void WriteStraight(const unsigned char* bytes, uint32_t count);

    XFile& writer_;
    int32_t& size_;
    const uint32_t maxBytes_;  // 0: no bound
    UniqueByteArray& gather_;
    uint32_t gathered_ = 0;
};

}  // namespace qor
