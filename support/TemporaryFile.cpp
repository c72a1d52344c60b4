#include "support/TemporaryFile.h"

#include <utility>

#include "support/FileHandles.h"
#include "support/RuntimeFiles.h"

namespace qor {

TemporaryFile& TemporaryFile::operator=(TemporaryFile&& other) noexcept {
    if (this != &other) {
        Delete();
        name_ = std::exchange(other.name_, ByteString::WithoutStorage());
    }
    return *this;
}

int TemporaryFile::Create() {
    ByteString name;
    const int descriptor = CreateTemporaryFileHandle(name);
    Delete();
    name_ = std::move(name);
    return descriptor;
}

void TemporaryFile::Delete() noexcept {
    if (name_.Length() != 0) rt::Unlink(name_.Text());
}

}  // namespace qor
