#pragma once
// The runtime's low-level file functions, under one set of names for both
// builds: the C runtime's _open family on Windows, POSIX natively. This is the
// only platform-specific header of the portable layers.
#include <cerrno>
#include <cstdlib>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#endif

namespace qor {

namespace rt {

#ifdef _WIN32
constexpr int kReadOnly = _O_RDONLY;
constexpr int kWriteOnly = _O_WRONLY;
constexpr int kReadWrite = _O_RDWR;
constexpr int kCreate = _O_CREAT;
constexpr int kTruncate = _O_TRUNC;
constexpr int kExclusive = _O_EXCL;
constexpr int kBinary = _O_BINARY;
constexpr int kOwnerReadWrite = _S_IREAD | _S_IWRITE;
constexpr int kSeekEnd = SEEK_END;
constexpr int kNoFollow = 0;     // nothing to refuse: _open has no links to follow
constexpr int kCloseOnExec = 0;

inline int Open(const char* path, int flags, int permission) { return _open(path, flags, permission); }
inline int DirectWrite(int fd, const void* bytes, unsigned count) { return _write(fd, bytes, count); }
inline long Seek(int fd, long offset, int origin) { return _lseek(fd, offset, origin); }
inline int Close(int fd) { return _close(fd); }
inline int Unlink(const char* path) { return _unlink(path); }
// A new name for a file that does not exist yet, in the runtime's temporary
// directory; release it with std::free. Null when no name can be made.
inline char* SystemTempName() { return _tempnam(nullptr, nullptr); }
#else
constexpr int kReadOnly = O_RDONLY;
constexpr int kWriteOnly = O_WRONLY;
constexpr int kReadWrite = O_RDWR;
constexpr int kCreate = O_CREAT;
constexpr int kTruncate = O_TRUNC;
constexpr int kExclusive = O_EXCL;
constexpr int kBinary = 0;  // no text translation to turn off
constexpr int kOwnerReadWrite = S_IRUSR | S_IWUSR;
constexpr int kSeekEnd = SEEK_END;
constexpr int kNoFollow = O_NOFOLLOW;
constexpr int kCloseOnExec = O_CLOEXEC;

inline int Open(const char* path, int flags, int permission) { return ::open(path, flags, permission); }
inline int DirectWrite(int fd, const void* bytes, unsigned count) {
    return static_cast<int>(::write(fd, bytes, count));
}
inline long Seek(int fd, long offset, int origin) { return static_cast<long>(::lseek(fd, offset, origin)); }
inline int Close(int fd) { return ::close(fd); }
inline int Unlink(const char* path) { return ::unlink(path); }
// Same contract as the Windows runtime's _tempnam(NULL, NULL): a malloc'ed
// name, not yet taken, in $TMPDIR (else /tmp). The libc tempnam is avoided
// only because its linker warning would break a clean build.
inline char* SystemTempName() {
    const char* dir = std::getenv("TMPDIR");
    if (dir == nullptr || *dir == 0) dir = "/tmp";
    static std::atomic<unsigned long> counter{0};
    const unsigned long seed = static_cast<unsigned long>(::getpid()) * 2654435761ul ^
                               static_cast<unsigned long>(std::time(nullptr));
    const size_t size = std::strlen(dir) + 32;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        char* name = static_cast<char*>(std::malloc(size));
        if (name == nullptr) return nullptr;
        std::snprintf(name, size, "%s/qor%08lx.tmp", dir, (seed + ++counter * 40503ul) & 0xfffffffful);
        struct stat info;
        if (::lstat(name, &info) != 0 && errno == ENOENT) return name;
        std::free(name);
    }
    return nullptr;
}
#endif

// Whether the last failed Open found the name already taken.
inline bool NameTaken() { return errno == EEXIST; }

// Test seams, empty in production: a test routes file writes or temporary
// names through its own functions to record write sizes or inject failures.
struct Seams {
    int (*write)(int fd, const void* bytes, unsigned count) = nullptr;
    char* (*tempName)() = nullptr;
};
inline Seams seams;

inline int Write(int fd, const void* bytes, unsigned count) {
    if (seams.write != nullptr) [[unlikely]]
        return seams.write(fd, bytes, count);
    return DirectWrite(fd, bytes, count);
}
inline char* TempName() { return seams.tempName != nullptr ? seams.tempName() : SystemTempName(); }

}  // namespace rt

}  // namespace qor
