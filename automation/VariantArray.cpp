#include "automation/VariantArray.h"

#include "com/Failure.h"
#include "com/ComHolders.h"
#include "automation/VariantOps.h"

#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace qor {
namespace {

VARIANT* AllocateEmptySlots(ULONG n) {
    auto* slots = new (std::nothrow) VARIANT[n];
    if (!slots) RaiseFailure(E_OUTOFMEMORY);
    for (ULONG i = 0; i < n; ++i) VariantInit(&slots[i]);
    return slots;
}

void ClearSlots(VARIANT* slots, ULONG from, ULONG to) noexcept {
    for (ULONG i = from; i < to; ++i) VariantClear(&slots[i]);
}

}  // namespace

VariantArray::VariantArray(ULONG capacity)
    : items_(AllocateEmptySlots(capacity)), capacity_(capacity) {}

VariantArray::~VariantArray() {
    ClearSlots(items_, 0, capacity_);
    delete[] items_;
}

void VariantArray::Grow(ULONG n) {
    if (n > std::numeric_limits<ULONG>::max() - capacity_) RaiseFailure(E_OUTOFMEMORY);
    VARIANT* grown = AllocateEmptySlots(capacity_ + n);
    // The elements change owner as they are: moving the bytes gives the same
    // values as copying each one and clearing the original, and cannot fail.
    std::memcpy(static_cast<void*>(grown), items_, count_ * sizeof(VARIANT));
    ClearSlots(items_, count_, capacity_);
    delete[] items_;
    items_ = grown;
    capacity_ += n;
}

void VariantArray::InsertAt(const VARIANT& value, ULONG index) {
    UniqueVariant copy;
    CopyVariant(*copy.get(), value);
    if (count_ == capacity_) Grow(capacity_ ? capacity_ : 1);
    // The slot that receives the last element may hold an old value.
    ClearVariant(items_[count_]);
    if (index < count_) {
        std::memmove(static_cast<void*>(&items_[index + 1]), &items_[index],
                     (count_ - index) * sizeof(VARIANT));
    } else {
        index = count_;
    }
    items_[index] = copy.release();
    ++count_;
}

void VariantArray::Append(UniqueVariant&& value) {
    if (count_ == capacity_) Grow(capacity_ ? capacity_ : 1);
    // The slot may hold an old value.
    ClearVariant(items_[count_]);
    items_[count_] = value.release();
    ++count_;
}

void VariantArray::DiscardLast() noexcept {
    if (count_ == 0) return;
    --count_;
    VariantClear(&items_[count_]);
}

void VariantArray::Swap(VariantArray& other) noexcept {
    std::swap(items_, other.items_);
    std::swap(capacity_, other.capacity_);
    std::swap(count_, other.count_);
}

}  // namespace qor
