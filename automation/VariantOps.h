#pragma once
// Platform VARIANT operations that raise AutomationFailure instead of
// returning a failure code.
#include <windows.h>
#include <oleauto.h>

#include "com/ComHolders.h"

namespace qor {

// Releases what the VARIANT holds and leaves it VT_EMPTY.
void ClearVariant(VARIANT& target);

// Replaces target's content with a copy of source (strings duplicated,
// object references added).
void CopyVariant(VARIANT& target, const VARIANT& source);

// Copies source into an out parameter that holds nothing yet (its previous
// content is not released). On failure the out parameter is VT_EMPTY and the
// copy's failure code is returned; nothing is raised.
HRESULT CopyToOut(const VARIANT& source, VARIANT* out) noexcept;

// VARIANTs for what the dictionaries and collections store. The string is
// taken over as it is (no copy, so nothing can fail); the object gains one
// reference for the VARIANT.
UniqueVariant BstrVariant(UniqueBstr text) noexcept;
UniqueVariant DispatchVariant(IDispatch* object) noexcept;

}  // namespace qor
