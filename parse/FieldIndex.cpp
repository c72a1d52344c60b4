#include "FieldIndex.h"

#include <cstring>

uint32_t FieldIndex::Hash(const char* text) {
    // FNV-1a: names are short, and this mixes every byte.
    uint32_t hash = 2166136261u;
    for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) hash = (hash ^ *p) * 16777619u;
    return hash;
}

void FieldIndex::Rebuild(const FormFieldList& fields) {
    size_t size = 64;
    while (size < static_cast<size_t>(fields.Count()) * 2 + 2) size *= 2;
    slots_.assign(size, Slot{0, 0});
    indexed_ = 0;
    for (uint32_t i = 0; i < fields.Count(); ++i) Insert(fields, i);
    indexed_ = fields.Count();
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
    const uint32_t count = fields.Count();
    if (count < indexed_ || slots_.empty() || static_cast<size_t>(count) * 2 + 2 > slots_.size()) {
        Rebuild(fields);
    } else {
        for (; indexed_ < count; ++indexed_) Insert(fields, indexed_);
    }
    const uint32_t hash = Hash(name);
    const size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (slot.position == 0) return -1;
        if (slot.hash == hash && std::strcmp(fields[slot.position - 1].name.Text(), name) == 0)
            return static_cast<int32_t>(slot.position - 1);
    }
}
