#include "upload/ProgressSection.h"

#include <algorithm>
#include <atomic>
#include <new>

namespace qor {
namespace {

constexpr wchar_t kNamePrefix[] = L"Local\\QORUploadProgress_";
constexpr size_t kNamePrefixLength = sizeof kNamePrefix / sizeof kNamePrefix[0] - 1;

std::atomic<long> publishedRecords{0};

// The section's name for a valid id, NUL-terminated in name.
void SectionName(std::wstring_view id, wchar_t (&name)[kNamePrefixLength + kMaxProgressIdLength + 1]) noexcept {
    std::copy_n(kNamePrefix, kNamePrefixLength, name);
    std::copy(id.begin(), id.end(), name + kNamePrefixLength);
    name[kNamePrefixLength + id.size()] = L'\0';
}

}  // namespace

ProgressSection::ProgressSection(UniqueHandle section, UniqueView view) noexcept
    : section_(std::move(section)), view_(std::move(view)), record_(static_cast<ProgressRecord*>(view_.get())) {}

ProgressSection::~ProgressSection() { --publishedRecords; }

std::unique_ptr<ProgressSection> ProgressSection::Publish(std::wstring_view id) noexcept {
    if (!IsValidProgressId(id)) return nullptr;
    // One of the process's slots is taken first, and given back unless a
    // record comes of it.
    if (++publishedRecords > kMaxPerProcess) {
        --publishedRecords;
        return nullptr;
    }
    std::unique_ptr<ProgressSection> published = Create(id);
    if (!published) --publishedRecords;
    return published;
}

std::unique_ptr<ProgressSection> ProgressSection::Create(std::wstring_view id) noexcept {
    wchar_t name[kNamePrefixLength + kMaxProgressIdLength + 1];
    SectionName(id, name);
    UniqueHandle section(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(ProgressRecord), name));
    // A name that exists already is somebody else's record: it is neither
    // written over nor shared.
    if (!section || GetLastError() == ERROR_ALREADY_EXISTS) return nullptr;
    UniqueView view(MapViewOfFile(section.get(), FILE_MAP_WRITE, 0, 0, sizeof(ProgressRecord)));
    if (!view) return nullptr;
    return std::unique_ptr<ProgressSection>(new (std::nothrow) ProgressSection(std::move(section), std::move(view)));
}

bool ProgressSection::Read(std::wstring_view id, ProgressSnapshot& out) noexcept {
    if (!IsValidProgressId(id)) return false;
    wchar_t name[kNamePrefixLength + kMaxProgressIdLength + 1];
    SectionName(id, name);
    UniqueHandle section(OpenFileMappingW(FILE_MAP_READ, FALSE, name));
    if (!section) return false;
    // A view of a record's size fails on a section of that name that is
    // smaller: not one of ours.
    UniqueView view(MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, sizeof(ProgressRecord)));
    if (!view) return false;
    return ReadProgress(*static_cast<const ProgressRecord*>(view.get()), out);
}

}  // namespace qor
