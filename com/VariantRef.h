#pragma once
// Following the by-reference variants (VT_BYREF|VT_VARIANT) through which
// script engines pass variables. Nothing here fails or throws.
#include <windows.h>
#include <oleauto.h>

namespace qor {

// The variant a chain of by-reference variants ends at: the variable itself,
// which the caller may read or, for a non-const argument, write back into.
inline VARIANT* FollowReference(VARIANT* v) noexcept {
    while (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) v = v->pvarVal;
    return v;
}
inline const VARIANT* FollowReference(const VARIANT* v) noexcept {
    return FollowReference(const_cast<VARIANT*>(v));
}

}  // namespace qor
