#pragma once
#include <cstdint>

#include "support/UniqueAny.h"

namespace qor {

class ByteString;

// Mode bits of OpenFileHandle and XFile. A mode with neither FileModeOpen nor
// FileModeOpenOrCreate creates the file, truncating an existing one.
constexpr uint16_t FileModeOpen = 1;          // open an existing file only
constexpr uint16_t FileModeOpenOrCreate = 2;  // open, or create when that fails
constexpr uint16_t FileModeAppend = 4;        // position an opened file at its end
constexpr uint16_t FileModeRead = 8;
constexpr uint16_t FileModeWrite = 16;

// Opens path in binary mode and returns the descriptor; raises XFileAlarm
// "Unable to open file", "Unable to create file" or "Unable to seek file"
// with the path. Read without write means FileModeOpen alone. endOffset, when
// given, receives the end offset that FileModeAppend moved to, else 0.
int OpenFileHandle(const char* path, uint16_t mode, int32_t* endOffset = nullptr);

// Raises XFileAlarm "Unable to close file" when the close fails.
void CloseFileHandle(int descriptor);

// Closes a descriptor that is given up on the way out of a failure, where
// there is nothing left to tell about its close.
void CloseFileHandleQuietly(int descriptor) noexcept;
// An open descriptor, closed quietly unless it is released or closed first.
using UniqueFileHandle = UniqueAny<int, &CloseFileHandleQuietly, -1>;

// Creates a new, empty, write-only temporary file under a name from the
// runtime's temporary-name function and stores that name in path. The file
// is created exclusively with owner-only permission (and natively never
// through a link), so nothing that already exists under the name is touched;
// a taken name is replaced by a fresh one a bounded number of times. Raises
// "Unable to create file": with the path when creation fails, without detail
// when the runtime yields no name.
int CreateTemporaryFileHandle(ByteString& path);

}  // namespace qor
