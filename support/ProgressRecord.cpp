#include "support/ProgressRecord.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace qor {
namespace {

using Counter = std::atomic_ref<uint32_t>;

uint32_t CopyText(std::u16string_view text, char16_t* room, uint32_t size) noexcept {
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(text.size(), size));
    std::copy_n(text.data(), n, room);
    return n;
}

// Numbers and lengths as a reader may show them, whoever wrote the memory.
void BringIntoRange(ProgressSnapshot& s) noexcept {
    if (static_cast<uint32_t>(s.state) > static_cast<uint32_t>(ProgressState::Failed)) s.state = ProgressState::Unknown;
    s.fileNameLength = std::min(s.fileNameLength, ProgressSnapshot::kFileNameRoom);
    s.errorLength = std::min(s.errorLength, ProgressSnapshot::kErrorRoom);
    for (int32_t* n : {&s.bytesReceived, &s.totalBytes, &s.filesStored, &s.elapsedMilliseconds}) *n = std::max(*n, 0);
}

}  // namespace

void FormatProgressId(const unsigned char (&random)[16], char16_t (&text)[kNewProgressIdLength]) noexcept {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < 16; ++i) {
        text[2 * i] = static_cast<char16_t>(kDigits[random[i] >> 4]);
        text[2 * i + 1] = static_cast<char16_t>(kDigits[random[i] & 15]);
    }
}

void ProgressSnapshot::SetFileName(std::u16string_view text) noexcept {
    fileNameLength = CopyText(text, fileName, kFileNameRoom);
}

void ProgressSnapshot::SetErrorDescription(std::u16string_view text) noexcept {
    errorLength = CopyText(text, errorDescription, kErrorRoom);
}

int32_t ProgressSnapshot::PercentComplete() const noexcept {
    if (state == ProgressState::Done) return 100;
    if (totalBytes <= 0 || bytesReceived <= 0) return 0;
    return static_cast<int32_t>(std::min<int64_t>(100, int64_t{bytesReceived} * 100 / totalBytes));
}

// A sequence lock: the counter is odd while the record changes, and a reader
// keeps a copy only when the counter was even and the same before and after.
void PublishProgress(ProgressRecord& record, const ProgressSnapshot& snapshot) noexcept {
    Counter sequence(record.sequence);
    const uint32_t start = sequence.load(std::memory_order_relaxed) | 1;
    sequence.store(start, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    std::memcpy(&record.snapshot, &snapshot, sizeof snapshot);
    sequence.store(start + 1, std::memory_order_release);
    Counter(record.magic).store(ProgressRecord::kMagic, std::memory_order_release);
}

bool ReadProgress(const ProgressRecord& record, ProgressSnapshot& out) noexcept {
    auto& shared = const_cast<ProgressRecord&>(record);
    if (Counter(shared.magic).load(std::memory_order_acquire) != ProgressRecord::kMagic) return false;
    // The writer holds the record for the time of one copy; a reader that
    // meets it there tries again, a bounded number of times.
    for (int attempt = 0; attempt < 10000; ++attempt) {
        const uint32_t before = Counter(shared.sequence).load(std::memory_order_acquire);
        if (before & 1) continue;
        std::memcpy(&out, &record.snapshot, sizeof out);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (Counter(shared.sequence).load(std::memory_order_relaxed) != before) continue;
        BringIntoRange(out);
        return true;
    }
    return false;
}

}  // namespace qor
