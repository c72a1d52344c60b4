#pragma once
// The published progress of one upload: a named section of shared memory in
// the session's local namespace ("Local\QORUploadProgress_<id>"), so that
// another request, also in another worker process of the site, can read it.
// Publishing and reading take only valid progress IDs; nothing here throws.
#include <windows.h>

#include <memory>
#include <string_view>

#include "support/ProgressRecord.h"
#include "support/UniqueAny.h"

namespace qor {

class ProgressSection {
public:
    // How many records one process publishes at once; past it, an upload
    // goes on without publishing.
    static constexpr long kMaxPerProcess = 256;

    // The record of a valid id, created for this publisher; null when it
    // cannot be: the id is invalid or already published, the process has
    // kMaxPerProcess records, or the system refuses. The record lives as
    // long as the object.
    static std::unique_ptr<ProgressSection> Publish(std::wstring_view id) noexcept;
    ~ProgressSection();
    ProgressSection(const ProgressSection&) = delete;
    ProgressSection& operator=(const ProgressSection&) = delete;

    void Write(const ProgressSnapshot& snapshot) noexcept { PublishProgress(*record_, snapshot); }

    // What is published under a valid id; false when nothing is (or no
    // longer), or the record cannot be read whole.
    static bool Read(std::wstring_view id, ProgressSnapshot& out) noexcept;

private:
    static void Unmap(void* view) noexcept { UnmapViewOfFile(view); }
    static void Close(HANDLE handle) noexcept { CloseHandle(handle); }
    using UniqueHandle = UniqueAny<HANDLE, &Close>;
    using UniqueView = UniqueAny<void*, &Unmap>;

    ProgressSection(UniqueHandle section, UniqueView view) noexcept;
    // The section and its view, without a slot of the process's count.
    static std::unique_ptr<ProgressSection> Create(std::wstring_view id) noexcept;

    UniqueHandle section_;
    UniqueView view_;
    ProgressRecord* record_;
};

}  // namespace qor
