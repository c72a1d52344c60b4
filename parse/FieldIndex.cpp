#include "parse/FieldIndex.h"

#include <cstdint>
#include <cstring>

namespace qor {

namespace {
uint64_t Load8(const char* p) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    return word;
}
uint64_t Load4(const char* p) {
    uint32_t word;
    std::memcpy(&word, p, 4);
    return word;
}
}  // namespace

uint32_t FieldIndex::Hash(const char* text) {
    // Eight bytes per step, each word multiplied in and folded; the last
    // word is read from the text's end (overlapping the one before), a text
    // under eight bytes as two overlapping halves, so no step copies a
    // variable count. Names are hashed up to their NUL as they are compared.
    const size_t length = std::strlen(text);
    uint64_t hash = 0x9E3779B97F4A7C15ull ^ length;
    size_t i = 0;
    for (; i + 8 < length; i += 8) {
        hash = (hash ^ Load8(text + i)) * 0xFF51AFD7ED558CCDull;
        hash ^= hash >> 32;
    }
    uint64_t last = 0;
    if (length >= 8)
        last = Load8(text + length - 8);
    else if (length >= 4)
        last = Load4(text) | Load4(text + length - 4) << 32;
    else if (length != 0)
        last = static_cast<unsigned char>(text[0]) | static_cast<unsigned char>(text[length / 2]) << 8 |
               static_cast<unsigned char>(text[length - 1]) << 16;
    hash = (hash ^ last) * 0xFF51AFD7ED558CCDull;
    hash ^= hash >> 32;
    hash ^= hash >> 29;
    hash *= 0xC4CEB9FE1A85EC53ull;
    hash ^= hash >> 32;
    return static_cast<uint32_t>(hash);
}

// Brings the table up to the list: a larger table when it would pass half
// full (moved over by stored hashes, without touching the names), then every
// field appended since the last call.
void FieldIndex::IndexAppended(const FormFieldList& fields) {
    const uint32_t count = fields.Count();
    if (count < indexed_) {  // the list was replaced: start again
        slots_.clear();
        indexed_ = 0;
    }
    if (slots_.size() < static_cast<size_t>(count) * 2 + 2) {
        size_t size = slots_.empty() ? 64 : slots_.size();
        while (size < static_cast<size_t>(count) * 2 + 2) size *= 2;
        std::vector<Slot> old(size, Slot{0, 0});
        old.swap(slots_);
        for (const Slot& slot : old)
            if (slot.position != 0) Place(slot);
        missSlot_ = SIZE_MAX;
    }
    for (; indexed_ < count; ++indexed_) Insert(fields, indexed_);
}

void FieldIndex::Place(Slot slot) {
    const size_t mask = slots_.size() - 1;
    size_t i = slot.hash & mask;
    while (slots_[i].position != 0) i = (i + 1) & mask;
    slots_[i] = slot;
}

void FieldIndex::Insert(const FormFieldList& fields, uint32_t index) {
    const char* name = fields[index].name.Text();
    const uint32_t hash = Hash(name);
    const size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        Slot& slot = slots_[i];
        if (slot.position == 0) {
            slot = Slot{hash, index + 1};
            return;
        }
        // A repeated name keeps its first position, as an ordered scan would.
        if (slot.hash == hash && std::strcmp(fields[slot.position - 1].name.Text(), name) == 0) return;
    }
}

int32_t FieldIndex::Find(const FormFieldList& fields, const char* name) {
    if (indexed_ != fields.Count() || slots_.size() < static_cast<size_t>(indexed_) * 2 + 2) IndexAppended(fields);
    const uint32_t hash = Hash(name);
    const size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (slot.position == 0) {
            missSlot_ = i;
            missHash_ = hash;
            missCount_ = fields.Count();
            return -1;
        }
        if (slot.hash == hash && std::strcmp(fields[slot.position - 1].name.Text(), name) == 0)
            return static_cast<int32_t>(slot.position - 1);
    }
}

void FieldIndex::AddMissed(const FormFieldList& fields) {
    // Only straight after the miss, with the one field appended and the table
    // unchanged; otherwise the next lookup indexes the field by itself.
    if (missSlot_ == SIZE_MAX || indexed_ != missCount_ || fields.Count() != missCount_ + 1) return;
    slots_[missSlot_] = Slot{missHash_, missCount_ + 1};
    indexed_ = fields.Count();
    missSlot_ = SIZE_MAX;
}

void FieldIndex::Forget() noexcept {
    slots_.clear();
    indexed_ = 0;
    missSlot_ = SIZE_MAX;
}

}  // namespace qor
