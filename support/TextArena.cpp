#include "support/TextArena.h"

#include <cstring>

namespace qor {

namespace {

// Copies count bytes (a text and its NUL). Most kept texts are names and
// short values: up to 16 bytes go as two overlapping loads and stores, with
// no call. Longer ones take memmove, which stays a library call where GCC
// would expand a memcpy of at most a KiB into a slow string move.
void CopyWithNul(char* to, const char* from, uint32_t count) {
    if (count >= 8 && count <= 16) {
        uint64_t head, tail;
        std::memcpy(&head, from, 8);
        std::memcpy(&tail, from + count - 8, 8);
        std::memcpy(to, &head, 8);
        std::memcpy(to + count - 8, &tail, 8);
    } else if (count >= 4 && count < 8) {
        uint32_t head, tail;
        std::memcpy(&head, from, 4);
        std::memcpy(&tail, from + count - 4, 4);
        std::memcpy(to, &head, 4);
        std::memcpy(to + count - 4, &tail, 4);
    } else {
        std::memmove(to, from, count);
    }
}

}  // namespace

ByteString TextArena::Keep(const ByteString& text) {
    const uint32_t length = text.Length();
    if (length == 0) return ByteString::WithoutStorage();
    if (length > kLongestKept) return text;
    if (kBlockBytes - used_ < length + 1) {
        // Room for the block's owner first, so that a failure leaves the arena as it was.
        if (blocks_.size() == blocks_.capacity()) blocks_.reserve(blocks_.size() * 2 + 4);
        blocks_.emplace_back(new char[kBlockBytes]);
        used_ = 0;
    }
    char* kept = blocks_.back().get() + used_;
    CopyWithNul(kept, text.Text(), length + 1);
    used_ += length + 1;
    return ByteString::Viewing(kept, length);
}

void TextArena::RewindTo(Mark mark) noexcept {
    if (mark.blocks > blocks_.size()) return;  // a mark from before a later rewind: nothing to give back
    blocks_.resize(mark.blocks);
    used_ = mark.used;
}

}  // namespace qor
