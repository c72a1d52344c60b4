#pragma once
// One owner for every kind of handle: a value and the function that closes
// it. Each resource the code owns is a one-line alias, e.g.
//     using UniqueKey = UniqueAny<HKEY, &RegCloseKey>;
// The closer is called once for a held value that is not `Invalid`, when the
// owner is reset, reassigned or destroyed. Nothing here throws.
#include <utility>

namespace qor {

template <typename Handle, auto Close, Handle Invalid = Handle{}>
class UniqueAny {
public:
    UniqueAny() noexcept = default;
    explicit UniqueAny(Handle handle) noexcept : handle_(handle) {}
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    UniqueAny(UniqueAny&& other) noexcept : handle_(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueAny() { reset(); }

    void reset(Handle handle = Invalid) noexcept {
        const Handle old = std::exchange(handle_, handle);
        if (!(old == Invalid)) Close(old);
    }
    Handle release() noexcept { return std::exchange(handle_, Invalid); }
    Handle get() const noexcept { return handle_; }
    // Out-parameter access: closes what is held first.
    Handle* put() noexcept {
        reset();
        return &handle_;
    }
    // The slot itself, for a caller that keeps pointing at it; unlike put()
    // it leaves what is held in place.
    Handle* addressof() noexcept { return &handle_; }
    explicit operator bool() const noexcept { return !(handle_ == Invalid); }

private:
    Handle handle_ = Invalid;
};

// The closer of an array made with new[].
template <typename T>
void DeleteArray(T* items) noexcept {
    delete[] items;
}
// A heap array of bytes.
using UniqueByteArray = UniqueAny<unsigned char*, &DeleteArray<unsigned char>>;

}  // namespace qor
