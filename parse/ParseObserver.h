#pragma once
// What a caller that shows an upload's progress learns from a parse: each
// file part as its storing begins and once its file is complete. The calls
// come from the parse itself, between reads of the body; they must not throw.
namespace qor {

struct UploadedFile;

class ParseObserver {
public:
    virtual void FileStarted(const UploadedFile& file) noexcept = 0;
    virtual void FileStored(const UploadedFile& file) noexcept = 0;

protected:
    ~ParseObserver() = default;
};

}  // namespace qor
