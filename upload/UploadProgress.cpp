#include "upload/UploadProgress.h"

#include <oleauto.h>

#include "automation/Arguments.h"
#include "automation/CQORFileInfo.h"
#include "com/ComHolders.h"
#include "parse/ParseResults.h"
#include "upload/ProgressSection.h"

namespace qor {
namespace {

std::u16string_view View(const wchar_t* text, size_t length) noexcept {
    return {reinterpret_cast<const char16_t*>(text), length};
}

}  // namespace

UploadProgress::UploadProgress(ProgressSection* section, UINT codePage) noexcept
    : section_(section), codePage_(codePage != 0 ? codePage : CP_ACP), start_(section ? GetTickCount64() : 0) {}

void UploadProgress::Begin(LONG totalBytes) noexcept {
    if (!section_) return;
    snapshot_.state = ProgressState::Receiving;
    snapshot_.totalBytes = totalBytes > 0 ? totalBytes : 0;
    Publish();
}

void UploadProgress::BodyReceived(uint32_t bytes) noexcept {
    if (!section_) return;
    snapshot_.bytesReceived = static_cast<int32_t>(bytes);
    if (GetTickCount64() - lastPublished_ >= kMinInterval) Publish();
}

// The name is what the file info's FileName will answer. A name that cannot
// be converted (no memory) leaves the last one shown.
void UploadProgress::FileStarted(const UploadedFile& file) noexcept {
    if (!section_) return;
    try {
        const UniqueBstr path = ToAutomationString(file.userPath.Text(), codePage_);
        const std::wstring_view name = BareFileName({path.get(), SysStringLen(path.get())});
        snapshot_.SetFileName(View(name.data(), name.size()));
    } catch (...) {
    }
    Publish();
}

void UploadProgress::FileStored(const UploadedFile&) noexcept {
    if (!section_) return;
    ++snapshot_.filesStored;
    Publish();
}

void UploadProgress::Finish(HRESULT result) noexcept {
    if (!section_) return;
    snapshot_.state = SUCCEEDED(result) ? ProgressState::Done : ProgressState::Failed;
    if (FAILED(result)) {
        snapshot_.errorNumber = static_cast<int32_t>(result);
        // Taken to read its description, and put back for the page.
        ComPtr<IErrorInfo> error;
        if (GetErrorInfo(0, error.put()) == S_OK && error) {
            UniqueBstr description;
            if (SUCCEEDED(error->GetDescription(description.put())) && description.get())
                snapshot_.SetErrorDescription(View(description.get(), SysStringLen(description.get())));
            SetErrorInfo(0, error.get());
        }
    }
    Publish();
}

void UploadProgress::Publish() noexcept {
    if (!section_) return;
    lastPublished_ = GetTickCount64();
    const ULONGLONG elapsed = lastPublished_ - start_;
    snapshot_.elapsedMilliseconds = elapsed > 0x7fffffff ? 0x7fffffff : static_cast<int32_t>(elapsed);
    section_->Write(snapshot_);
}

}  // namespace qor
