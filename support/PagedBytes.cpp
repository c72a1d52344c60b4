#include "support/PagedBytes.h"

#include <cstring>
#include <new>

namespace qor {

uint32_t PagedBytes::TableCapacityFor(uint32_t pages) {
    const uint32_t rounded = (pages + kTableStep - 1) / kTableStep * kTableStep;
    return rounded < kTableStep ? kTableStep : rounded;
}

PagedBytes::PagedBytes(uint32_t initialSize) {
    const uint32_t pages = initialSize / kPageSize + (initialSize % kPageSize != 0);
    tableCapacity_ = TableCapacityFor(pages);
    pages_ = new unsigned char*[tableCapacity_];
    try {
        for (; pageCount_ < pages; ++pageCount_) pages_[pageCount_] = new unsigned char[kPageSize];
    } catch (...) {
        Release();
        throw;
    }
}

PagedBytes::~PagedBytes() { Release(); }

void PagedBytes::Release() {
    for (uint32_t i = 0; i < pageCount_; ++i) delete[] pages_[i];
    delete[] pages_;
    pages_ = nullptr;
    pageCount_ = 0;
}

void PagedBytes::AddPage() {
    // The length is 32-bit: stop one page short of 4 GiB so it never wraps.
    if (pageCount_ >= UINT32_MAX / kPageSize) throw std::bad_alloc();
    if (pageCount_ == tableCapacity_) {
        // Double the table (it is at least the next multiple of 16 entries):
        // growing by a fixed step would copy the table quadratically often on
        // bodies of hundreds of MiB. The first growth, to 32 entries at the
        // 65,537th byte, is the same either way.
        const uint32_t doubled = tableCapacity_ <= UINT32_MAX / 2 ? tableCapacity_ * 2 : UINT32_MAX;
        const uint32_t needed = TableCapacityFor(pageCount_ + 1);
        const uint32_t capacity = doubled > needed ? doubled : needed;
        auto** table = new unsigned char*[capacity];
        std::memcpy(table, pages_, pageCount_ * sizeof *pages_);
        delete[] pages_;
        pages_ = table;
        tableCapacity_ = capacity;
    }
    pages_[pageCount_] = new unsigned char[kPageSize];
    ++pageCount_;
}

void PagedBytes::PushBytes(const unsigned char* bytes, uint32_t count) {
    while (count != 0) {
        if (length_ == pageCount_ * kPageSize) AddPage();
        const uint32_t offset = length_ & (kPageSize - 1);
        const uint32_t room = kPageSize - offset;
        const uint32_t n = count < room ? count : room;
        std::memcpy(pages_[length_ >> kPageShift] + offset, bytes, n);
        length_ += n;
        bytes += n;
        count -= n;
    }
}

// The stored bytes [position, position + count), cut at the length, piece by
// piece within a page: visit(bytes of the page, pieces done so far, piece
// length). Returns how many bytes were visited.
template <typename Visit>
uint32_t PagedBytes::ForEachPiece(uint32_t position, uint32_t count, Visit visit) const {
    if (position >= length_) return 0;
    if (count > length_ - position) count = length_ - position;
    for (uint32_t done = 0; done < count;) {
        const uint32_t at = position + done;
        const uint32_t offset = at & (kPageSize - 1);
        const uint32_t room = kPageSize - offset;
        const uint32_t n = count - done < room ? count - done : room;
        visit(pages_[at >> kPageShift] + offset, done, n);
        done += n;
    }
    return count;
}

uint32_t PagedBytes::CopyOut(uint32_t position, unsigned char* destination, uint32_t count) const {
    return ForEachPiece(position, count, [&](const unsigned char* stored, uint32_t done, uint32_t n) {
        std::memcpy(destination + done, stored, n);
    });
}

uint32_t PagedBytes::Overwrite(uint32_t position, const unsigned char* bytes, uint32_t count) {
    return ForEachPiece(position, count, [&](unsigned char* stored, uint32_t done, uint32_t n) {
        std::memcpy(stored, bytes + done, n);
    });
}

}  // namespace qor
