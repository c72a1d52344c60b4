#pragma once
// The progress of one upload as it is published for other processes to read:
// a fixed-size record in memory that one writer updates and any number of
// readers copy, with a sequence counter so that a reader never waits for the
// writer and never takes a half-written record for a whole one. Nothing here
// throws, and a record a reader copies is checked before it is believed: the
// memory may have been written by anybody who could name it.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qor {

// A progress ID: 16 to 64 characters of A-Z a-z 0-9 - _. That is all a
// valid ID can hold, so it can never reach beyond its own name (no "\",
// no namespace prefix, no NUL).
inline constexpr size_t kMinProgressIdLength = 16, kMaxProgressIdLength = 64;

template <typename Char>
constexpr bool IsValidProgressId(std::basic_string_view<Char> id) noexcept {
    if (id.size() < kMinProgressIdLength || id.size() > kMaxProgressIdLength) return false;
    for (Char c : id) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '_';
        if (!ok) return false;
    }
    return true;
}

// A new ID's text: the 16 random bytes in lower-case hexadecimal, 32 characters.
inline constexpr size_t kNewProgressIdLength = 32;
void FormatProgressId(const unsigned char (&random)[16], char16_t (&text)[kNewProgressIdLength]) noexcept;

enum class ProgressState : uint32_t { Unknown = 0, Receiving = 1, Done = 2, Failed = 3 };

// What one reading shows. Texts are UTF-16, cut to their room.
struct ProgressSnapshot {
    static constexpr uint32_t kFileNameRoom = 260, kErrorRoom = 512;

    ProgressState state = ProgressState::Unknown;
    int32_t bytesReceived = 0, totalBytes = 0, filesStored = 0;
    int32_t elapsedMilliseconds = 0, errorNumber = 0;
    uint32_t fileNameLength = 0, errorLength = 0;
    char16_t fileName[kFileNameRoom] = {};
    char16_t errorDescription[kErrorRoom] = {};

    std::u16string_view FileName() const noexcept { return {fileName, fileNameLength}; }
    std::u16string_view ErrorDescription() const noexcept { return {errorDescription, errorLength}; }
    // Sets a text, cut to its room.
    void SetFileName(std::u16string_view text) noexcept;
    void SetErrorDescription(std::u16string_view text) noexcept;
    // 0 to 100, by bytesReceived of totalBytes; 100 when done.
    int32_t PercentComplete() const noexcept;
};

// The record as it lies in shared memory. Its size is fixed, and the same
// for both architectures.
struct ProgressRecord {
    static constexpr uint32_t kMagic = 0x50524f51;  // "QORP"
    uint32_t magic;
    uint32_t sequence;  // odd while the writer is at work
    ProgressSnapshot snapshot;
};
static_assert(sizeof(ProgressRecord) == 8 + 32 + 2 * (260 + 512));

// The writer: marks the record as being written, writes it, marks it whole.
// One writer at a time.
void PublishProgress(ProgressRecord& record, const ProgressSnapshot& snapshot) noexcept;

// The reader: a whole copy of what the writer last published. False when the
// record is not one (no magic), or stayed in the writer's hands through every
// try; the copy's texts and numbers are then brought into range.
bool ReadProgress(const ProgressRecord& record, ProgressSnapshot& out) noexcept;

}  // namespace qor
