#pragma once
#include <cstdint>

#include "support/FileHandles.h"
#include "support/OutputBuffer.h"

namespace qor {

class ByteString;
class TemporaryFile;

// Buffered output file: an OutputBuffer whose medium is a file descriptor.
// The file is open from construction until Close or destruction. Close
// flushes and closes and raises XFileAlarm on failure; the destructor does
// the same for a file still open but swallows failures, so owners that must
// know whether the data arrived call Close.
class XFile : public OutputBuffer {
public:
    // Opens path with OpenFileHandle (FileModeWrite added): mode 0 creates the
    // file or truncates an existing one. Raises what OpenFileHandle raises.
    XFile(const char* path, uint16_t mode, uint32_t bufferSize);

    // Creates a new temporary file with CreateTemporaryFileHandle and stores
    // its name in path.
    struct NewTemporary {};
    XFile(NewTemporary, ByteString& path, uint32_t bufferSize);
    // Creates a new temporary file that `file` owns from then on.
    XFile(TemporaryFile& file, uint32_t bufferSize);

    ~XFile() override;

    // Writes what is still buffered and closes the file; raises "Unable to
    // write file" or "Unable to close file". The file is closed afterwards
    // either way; a second Close does nothing.
    void Close();

protected:
    // A short write drops the bytes still waiting and raises "Unable to write
    // file"; the file keeps what was written before.
    uint32_t RawWrite(const unsigned char* bytes, uint32_t count) override;

private:
    UniqueFileHandle descriptor_;
};

}  // namespace qor
