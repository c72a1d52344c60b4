#pragma once
// Growable array of VARIANTs: a dictionary's keys and values, a collection's
// values. Slots beyond the count stay valid VARIANTs (empty, or an old value
// left by ResetCount) and are released when overwritten or destroyed.
#include <windows.h>
#include <oleauto.h>

#include "com/ComHolders.h"

namespace qor {

class VariantArray {
public:
    // Allocates `capacity` empty slots; raises E_OUTOFMEMORY when it cannot.
    explicit VariantArray(ULONG capacity);
    ~VariantArray();
    VariantArray(const VariantArray&) = delete;
    VariantArray& operator=(const VariantArray&) = delete;

    ULONG count() const noexcept { return count_; }
    ULONG capacity() const noexcept { return capacity_; }
    // Element by 0-based index below count().
    const VARIANT& operator[](ULONG index) const noexcept { return items_[index]; }
    const VARIANT* begin() const noexcept { return items_; }
    const VARIANT* end() const noexcept { return items_ + count_; }

    // Stores a copy of value at a 0-based index, moving later elements up; an
    // index at or beyond count() appends. A full array doubles first. On
    // failure nothing changes and the failure is raised.
    void InsertAt(const VARIANT& value, ULONG index);
    // Appends value itself, without a copy: the array takes it over. On
    // failure nothing changes and value stays with the caller.
    void Append(UniqueVariant&& value);
    // Raises the capacity by n slots, keeping the elements.
    void Grow(ULONG n);
    // Forgets the elements without touching the slots.
    void ResetCount() noexcept { count_ = 0; }
    // Removes and releases the last element (undoes an append).
    void DiscardLast() noexcept;
    // Exchanges the whole contents (slots, capacity, count) with other.
    void Swap(VariantArray& other) noexcept;

private:
    VARIANT* items_ = nullptr;
    ULONG capacity_ = 0;
    ULONG count_ = 0;
};

}  // namespace qor
