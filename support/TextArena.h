#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "support/ByteString.h"

namespace qor {

// Storage for many short texts that go together, such as a body's field
// names and values: Keep copies a text into the current block and hands out
// a string viewing it, so a text costs no allocation of its own. A kept text
// stays until the arena goes or is rewound past it. Keep raises only
// std::bad_alloc, and then keeps nothing.
class TextArena {
public:
    // Texts longer than this get a string with storage of its own.
    static constexpr uint32_t kLongestKept = 1024;
    static constexpr uint32_t kBlockBytes = 64 * 1024;

    TextArena() = default;
    TextArena(const TextArena&) = delete;
    TextArena& operator=(const TextArena&) = delete;

    // A string with text's bytes (NULs included): a view into the arena, an
    // ordinary copy for a long text, and for an empty one a string without
    // storage.
    ByteString Keep(const ByteString& text);

    // Where the next text will go; RewindTo gives back everything kept
    // since. A string that views a text given back must be gone by then.
    struct Mark {
        size_t blocks;
        uint32_t used;
    };
    Mark Position() const noexcept { return Mark{blocks_.size(), used_}; }
    void RewindTo(Mark mark) noexcept;

private:
    std::vector<std::unique_ptr<char[]>> blocks_;
    uint32_t used_ = kBlockBytes;  // bytes taken in the last block: none yet, so it is full
};

}  // namespace qor
