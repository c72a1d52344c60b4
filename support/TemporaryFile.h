#pragma once
#include "support/ByteString.h"

namespace qor {

// A temporary file this program created, and the duty to delete it: the one
// place where a stored file goes. Destroying the owner deletes the file (a
// file already gone, moved or undeletable simply stays as it is); an empty
// owner holds no file. Close the file before its owner goes: an open file
// cannot be deleted everywhere.
class TemporaryFile {
public:
    TemporaryFile() = default;
    TemporaryFile(TemporaryFile&& other) noexcept = default;
    TemporaryFile& operator=(TemporaryFile&& other) noexcept;
    ~TemporaryFile() { Delete(); }

    // Creates a new temporary file (CreateTemporaryFileHandle) and owns it
    // from then on; returns its open descriptor. A failure raises what
    // CreateTemporaryFileHandle raises and leaves the owner as it was, so a
    // name that someone else holds is never deleted.
    int Create();

    // Gives up the duty to delete the file (it has been moved away, say): the
    // owner is empty afterwards.
    void Release() noexcept { name_ = ByteString::WithoutStorage(); }

    const ByteString& Name() const { return name_; }
    const char* Text() const { return name_.Text(); }

private:
    void Delete() noexcept;

    ByteString name_ = ByteString::WithoutStorage();
};

}  // namespace qor
