#include "XFile.h"

#include <utility>

#include "FileHandles.h"
#include "RuntimeFiles.h"
#include "XAlarm.h"

// The buffer comes first: when its allocation fails, no file has been made.
XFile::XFile(const char* path, uint16_t mode, uint32_t bufferSize) {
    SetBuffer(bufferSize);
    descriptor_ = OpenFileHandle(path, static_cast<uint16_t>(mode | FileModeWrite));
}

XFile::XFile(NewTemporary, ByteString& path, uint32_t bufferSize) {
    SetBuffer(bufferSize);
    descriptor_ = CreateTemporaryFileHandle(path);
}

XFile::~XFile() {
    if (descriptor_ == -1) return;
    try {
        Flush();
    } catch (...) {
    }
    rt::Close(descriptor_);
}

void XFile::Close() {
    if (descriptor_ == -1) return;
    try {
        Flush();
    } catch (...) {
        rt::Close(std::exchange(descriptor_, -1));
        throw;
    }
    CloseFileHandle(std::exchange(descriptor_, -1));
}

uint32_t XFile::RawWrite(const unsigned char* bytes, uint32_t count) {
    if (rt::Write(descriptor_, bytes, count) == static_cast<int>(count)) return count;
    DiscardPending();
    throw XFileAlarm("Unable to write file", nullptr);
}
