#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>

namespace qor {

// Types whose objects may move to another address as their bytes alone: they
// hold no pointer into themselves. Lists of them grow with realloc, which
// moves large storage by remapping its pages instead of copying them, so that
// old and new storage are not resident together while a long list grows.
template <typename T>
inline constexpr bool kRelocatable = std::is_trivially_copyable_v<T>;

// Ordered, growable array that owns its elements. Elements are only ever
// appended, so a position never changes once assigned. A full list doubles
// its capacity; growth moves the elements into the new storage.
//
// Up to InlineRoom elements can live inside the list itself: a list made
// with at most that capacity allocates nothing until it outgrows it. Lists of
// which most hold a single element (a field's values) save an allocation each.
// The list holds no pointer into itself (no storage of its own means the
// inline room), so a list of relocatable elements is relocatable too.
template <typename T, uint32_t InlineRoom = 0>
class OrderedList {
    static_assert(std::is_nothrow_move_constructible_v<T>, "growth moves elements");

public:
    static constexpr uint32_t kInitialCapacity = 16;

    explicit OrderedList(uint32_t capacity = kInitialCapacity)
        : items_(capacity <= InlineRoom ? nullptr : Allocate(capacity)),
          capacity_(capacity <= InlineRoom ? InlineRoom : capacity) {}
    // A copy that throws part-way is destroyed as a whole list (the
    // delegated constructor has finished): count_ holds the copies made.
    OrderedList(const OrderedList& other) : OrderedList(other.capacity_) {
        for (; count_ < other.count_; ++count_) new (Items() + count_) T(other.Items()[count_]);
    }
    OrderedList(OrderedList&& other) noexcept : items_(nullptr), capacity_(InlineRoom) { TakeFrom(other); }
    OrderedList& operator=(OrderedList other) noexcept {
        Release();
        TakeFrom(other);
        return *this;
    }
    ~OrderedList() { Release(); }

    // Appends a copy of item (or item itself, moved) at the end.
    T& Append(const T& item) { return Emplace(item); }
    T& Append(T&& item) { return Emplace(std::move(item)); }
    template <typename... Args>
    T& Emplace(Args&&... args) {
        if (count_ == capacity_) {
            // Build first: the arguments may refer into this list.
            T item(std::forward<Args>(args)...);
            Reserve(capacity_ ? capacity_ * 2 : kInitialCapacity);
            return *new (Items() + count_++) T(std::move(item));
        }
        T* slot = new (Items() + count_) T(std::forward<Args>(args)...);
        ++count_;
        return *slot;
    }

    // Destroys the elements from position count on, last first; the
    // capacity stays.
    void Truncate(uint32_t count) noexcept {
        while (count_ > count) Items()[--count_].~T();
    }

    uint32_t Count() const { return count_; }
    T& operator[](uint32_t index) { return Items()[index]; }
    const T& operator[](uint32_t index) const { return Items()[index]; }
    T& Last() { return Items()[count_ - 1]; }
    const T* begin() const { return Items(); }
    const T* end() const { return Items() + count_; }
    T* begin() { return Items(); }
    T* end() { return Items() + count_; }

private:
    // Where the elements are: the storage, or the inline room when there is
    // none (a list without inline room and without storage has no elements).
    T* Items() {
        if constexpr (InlineRoom != 0) {
            if (items_ != nullptr) return items_;
            T* room = reinterpret_cast<T*>(inline_);
#if defined(__GNUC__)
            // The compiler would otherwise bound every index by the inline
            // room, and warn where it cannot tell that a large index goes to
            // the storage instead.
            asm("" : "+r"(room));
#endif
            return room;
        }
        return items_;
    }
    const T* Items() const { return const_cast<OrderedList*>(this)->Items(); }
    bool IsInline() const { return InlineRoom != 0 && items_ == nullptr; }

    // Moves other's elements into this empty list, leaving other empty with
    // its inline room (or no storage).
    void TakeFrom(OrderedList& other) noexcept {
        if (other.IsInline()) {
            items_ = nullptr;
            capacity_ = InlineRoom;
            for (; count_ < other.count_; ++count_) {
                new (Items() + count_) T(std::move(other.Items()[count_]));
                other.Items()[count_].~T();
            }
            other.count_ = 0;
            return;
        }
        items_ = std::exchange(other.items_, nullptr);
        capacity_ = std::exchange(other.capacity_, InlineRoom);
        count_ = std::exchange(other.count_, 0);
    }

    static T* Allocate(uint32_t capacity) {
        if (capacity == 0) return nullptr;
        if constexpr (!kRelocatable<T>) return static_cast<T*>(::operator new(sizeof(T) * static_cast<size_t>(capacity)));
        void* items = std::malloc(sizeof(T) * static_cast<size_t>(capacity));
        if (items == nullptr) throw std::bad_alloc();
        return static_cast<T*>(items);
    }
    static void Free(T* items) {
        if constexpr (kRelocatable<T>)
            std::free(items);
        else
            ::operator delete(items);
    }
    void Reserve(uint32_t capacity) {
        if (capacity <= capacity_) throw std::bad_alloc();  // 32-bit count exhausted
        if constexpr (kRelocatable<T>) {
            if (!IsInline() && items_ != nullptr) {
                // On failure the old storage stays as it was.
                void* items = std::realloc(static_cast<void*>(items_), sizeof(T) * static_cast<size_t>(capacity));
                if (items == nullptr) throw std::bad_alloc();
                items_ = static_cast<T*>(items);
                capacity_ = capacity;
                return;
            }
        }
        T* items = Allocate(capacity);
        for (uint32_t i = 0; i < count_; ++i) {
            new (items + i) T(std::move(Items()[i]));
            Items()[i].~T();
        }
        if (!IsInline()) Free(items_);
        items_ = items;
        capacity_ = capacity;
    }
    void Release() {
        for (uint32_t i = 0; i < count_; ++i) Items()[i].~T();
        if (!IsInline()) Free(items_);
        items_ = nullptr;
        capacity_ = InlineRoom;
        count_ = 0;
    }

    T* items_;  // nullptr: the inline room, or no storage
    uint32_t capacity_;
    uint32_t count_ = 0;
    alignas(T) unsigned char inline_[InlineRoom != 0 ? InlineRoom * sizeof(T) : 1];
};

template <typename T, uint32_t InlineRoom>
inline constexpr bool kRelocatable<OrderedList<T, InlineRoom>> = kRelocatable<T>;

}  // namespace qor
