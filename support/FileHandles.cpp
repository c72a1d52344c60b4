#include "support/FileHandles.h"

#include <cstdlib>

#include "support/ByteString.h"
#include "support/RuntimeFiles.h"
#include "support/UniqueAny.h"
#include "support/XAlarm.h"

namespace qor {

namespace {

constexpr int kTemporaryNameAttempts = 16;

// A name the C runtime allocated.
using UniqueName = UniqueAny<char*, [](char* name) { std::free(name); }>;

}  // namespace

int OpenFileHandle(const char* path, uint16_t mode, int32_t* endOffset) {
    int access = rt::kWriteOnly;
    if ((mode & FileModeRead) && (mode & FileModeWrite)) {
        access = rt::kReadWrite;
    } else if (mode & FileModeRead) {
        access = rt::kReadOnly;
        mode = FileModeOpen;  // a read-only file must exist; it is never created or positioned
    }
    const int open = access | rt::kBinary;
    const int create = open | rt::kCreate | rt::kTruncate;

    // An alarm leaves no descriptor behind: the owner closes it on the way out.
    UniqueFileHandle fd;
    bool existing = false;  // only an existing file is positioned at its end
    if (mode & (FileModeOpen | FileModeOpenOrCreate)) {
        fd.reset(rt::Open(path, open, rt::kOwnerReadWrite));
        existing = static_cast<bool>(fd);
        if (!fd && (mode & FileModeOpen)) throw XFileAlarm("Unable to open file", path);
    }
    if (!fd) {
        fd.reset(rt::Open(path, create, rt::kOwnerReadWrite));
        if (!fd) throw XFileAlarm("Unable to create file", path);
    }
    long offset = 0;
    if (existing && (mode & FileModeAppend)) {
        offset = rt::Seek(fd.get(), 0, rt::kSeekEnd);
        if (offset == -1) throw XFileAlarm("Unable to seek file", path);
    }
    if (endOffset != nullptr) *endOffset = static_cast<int32_t>(offset);
    return fd.release();
}

void CloseFileHandle(int descriptor) {
    if (rt::Close(descriptor) != 0) throw XFileAlarm("Unable to close file", nullptr);
}

void CloseFileHandleQuietly(int descriptor) noexcept { rt::Close(descriptor); }

int CreateTemporaryFileHandle(ByteString& path) {
    constexpr int flags =
        rt::kWriteOnly | rt::kBinary | rt::kCreate | rt::kExclusive | rt::kNoFollow | rt::kCloseOnExec;
    for (int attempt = 1;; ++attempt) {
        const UniqueName name(rt::TempName());
        if (!name) throw XFileAlarm("Unable to create file", nullptr);
        path.Assign(name.get());
        const int fd = rt::Open(path.Text(), flags, rt::kOwnerReadWrite);
        if (fd != -1) return fd;
        // Someone else holds the name (a file, a link, a directory): ask for
        // another; any other failure will not go away by retrying.
        if (!rt::NameTaken() || attempt == kTemporaryNameAttempts)
            throw XFileAlarm("Unable to create file", path.Text());
    }
}

}  // namespace qor
