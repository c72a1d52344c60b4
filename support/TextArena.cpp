#include "support/TextArena.h"

#include <cstring>

namespace qor {

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
    // The text's NUL comes along. memmove stays a library call, where GCC
    // would expand a memcpy of at most a KiB into a slow string move.
    std::memmove(kept, text.Text(), length + 1);
    used_ += length + 1;
    return ByteString::Viewing(kept, length);
}

void TextArena::RewindTo(Mark mark) noexcept {
    if (mark.blocks > blocks_.size()) return;  // a mark from before a later rewind: nothing to give back
    blocks_.resize(mark.blocks);
    used_ = mark.used;
}

}  // namespace qor
