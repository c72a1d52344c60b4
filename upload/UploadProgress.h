#pragma once
// One ProcessPostData call's progress, published into the upload object's
// progress record as the body arrives: bytes received of TotalBytes, files
// stored, the current file's name, the time since the call began, and at the
// end "done", or "failed" with the error the page sees. Bytes are published
// when 50 ms have passed since the last time; the start, each file and the
// end at once. Without a record it does nothing. Nothing here throws.
#include <windows.h>

#include <cstdint>

#include "parse/ParseObserver.h"
#include "support/ProgressRecord.h"
#include "upload/RequestBody.h"

namespace qor {

class ProgressSection;

class UploadProgress final : public ParseObserver, public BodyReadObserver {
public:
    static constexpr ULONGLONG kMinInterval = 50;  // milliseconds between two publications of bytes

    // section may be null; codePage is that of the file names (0 for the system's).
    UploadProgress(ProgressSection* section, UINT codePage) noexcept;

    void Begin(LONG totalBytes) noexcept;
    void BodyReceived(uint32_t bytes) noexcept override;
    void FileStarted(const UploadedFile& file) noexcept override;
    void FileStored(const UploadedFile& file) noexcept override;
    // The call's result; a failure's description is the thread's error
    // information, which stays in place for the page.
    void Finish(HRESULT result) noexcept;

private:
    void Publish() noexcept;

    ProgressSection* section_;
    UINT codePage_;
    ULONGLONG start_ = 0, lastPublished_ = 0;
    ProgressSnapshot snapshot_;
};

}  // namespace qor
