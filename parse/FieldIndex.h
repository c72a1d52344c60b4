#pragma once
#include <cstdint>
#include <vector>

#include "parse/ParseResults.h"

namespace qor {

// Hash index from field name to position in a FormFieldList, so that looking
// a name up costs the same for the 50,000th field as for the first. It
// answers as an ordered scan comparing NUL-terminated names would: the first
// field of that name, or -1. Fields appended to the list since the last
// lookup are indexed on the next one, so the index never needs telling.
class FieldIndex {
public:
    int32_t Find(const FormFieldList& fields, const char* name);
    // The field just appended carries the name of the last lookup, which
    // missed: it goes where that lookup ended, without hashing it again.
    void AddMissed(const FormFieldList& fields);
    // Drops every entry, for a list that lost fields; the next lookup
    // indexes the list afresh.
    void Forget() noexcept;

private:
    struct Slot {
        uint32_t hash;
        uint32_t position;  // index + 1; 0 marks an empty slot
    };

    static uint32_t Hash(const char* text);
    void Insert(const FormFieldList& fields, uint32_t index);
    void Place(Slot slot);
    void IndexAppended(const FormFieldList& fields);

    std::vector<Slot> slots_;
    uint32_t indexed_ = 0;  // fields[0, indexed_) are in the table
    // Where the last missed lookup ended, for AddMissed.
    size_t missSlot_ = SIZE_MAX;
    uint32_t missHash_ = 0;
    uint32_t missCount_ = 0;
};

}  // namespace qor
