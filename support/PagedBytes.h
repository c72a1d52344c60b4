#pragma once
#include <cstdint>

namespace qor {

// Growable byte array made of 4096-byte pages that never move; growth copies
// only the page table, whose capacity is a multiple of 16 entries and doubles
// when it is full.
//
// Failed allocations, and growth that would take the length past 32 bits,
// raise std::bad_alloc; nothing else is raised.
class PagedBytes {
public:
    static constexpr uint32_t kPageShift = 12;
    static constexpr uint32_t kPageSize = 1u << kPageShift;
    static constexpr uint32_t kTableStep = 16;

    // Allocates the pages for initialSize bytes; the length starts at 0.
    explicit PagedBytes(uint32_t initialSize);
    PagedBytes(const PagedBytes&) = delete;
    PagedBytes& operator=(const PagedBytes&) = delete;
    ~PagedBytes();

    void PushByte(unsigned char b) {
        if (length_ == pageCount_ * kPageSize) AddPage();
        pages_[length_ >> kPageShift][length_ & (kPageSize - 1)] = b;
        ++length_;
    }
    // Callers stay below Length().
    unsigned char ByteAt(uint32_t index) const { return pages_[index >> kPageShift][index & (kPageSize - 1)]; }

    // Bulk forms, with the same pages and tables as the byte-wise ones.
    void PushBytes(const unsigned char* bytes, uint32_t count);
    // Copies up to count stored bytes from position on; returns how many.
    uint32_t CopyOut(uint32_t position, unsigned char* destination, uint32_t count) const;
    // The stored bytes from position on that lie in one page: a pointer to
    // them, and count cut down to how many (at most what was asked). Null, and
    // count 0, when position is not below the length.
    const unsigned char* Span(uint32_t position, uint32_t& count) const {
        if (position >= length_) {
            count = 0;
            return nullptr;
        }
        const uint32_t offset = position & (kPageSize - 1);
        const uint32_t stored = length_ - position;
        const uint32_t room = kPageSize - offset < stored ? kPageSize - offset : stored;
        if (count > room) count = room;
        return pages_[position >> kPageShift] + offset;
    }
    // Overwrites stored bytes from position on, up to the length; returns how many.
    uint32_t Overwrite(uint32_t position, const unsigned char* bytes, uint32_t count);

    uint32_t Length() const { return length_; }

private:
    void AddPage();
    void Release();
    static uint32_t TableCapacityFor(uint32_t pages);
    template <typename Visit>
    uint32_t ForEachPiece(uint32_t position, uint32_t count, Visit visit) const;

    unsigned char** pages_ = nullptr;
    uint32_t tableCapacity_ = 0;
    uint32_t length_ = 0;
    uint32_t pageCount_ = 0;
};

}  // namespace qor
