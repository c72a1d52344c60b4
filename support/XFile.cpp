#include "support/XFile.h"

#include "support/FileHandles.h"
#include "support/RuntimeFiles.h"
#include "support/TemporaryFile.h"
#include "support/XAlarm.h"

namespace qor {

// The buffer comes first: when its allocation fails, no file has been made.
XFile::XFile(const char* path, uint16_t mode, uint32_t bufferSize) {
    SetBuffer(bufferSize);
    descriptor_.reset(OpenFileHandle(path, static_cast<uint16_t>(mode | FileModeWrite)));
}

XFile::XFile(NewTemporary, ByteString& path, uint32_t bufferSize) {
    SetBuffer(bufferSize);
    descriptor_.reset(CreateTemporaryFileHandle(path));
}

XFile::XFile(TemporaryFile& file, uint32_t bufferSize) {
    SetBuffer(bufferSize);
    descriptor_.reset(file.Create());
}

// The descriptor's owner closes it afterwards, quietly.
XFile::~XFile() {
    if (!descriptor_) return;
    try {
        Flush();
    } catch (...) {
    }
}

void XFile::Close() {
    if (!descriptor_) return;
    try {
        Flush();
    } catch (...) {
        descriptor_.reset();
        throw;
    }
    CloseFileHandle(descriptor_.release());
}

uint32_t XFile::RawWrite(const unsigned char* bytes, uint32_t count) {
    if (rt::Write(descriptor_.get(), bytes, count) == static_cast<int>(count)) return count;
    DiscardPending();
    throw XFileAlarm("Unable to write file", nullptr);
}

}  // namespace qor
