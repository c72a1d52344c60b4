#pragma once
// What every automation object of the component shares: a reference count
// that starts at 0 (the first holder takes the first reference) and one module
// lock for as long as the object lives.
#include <windows.h>

#include "com/Module.h"

namespace qor {

class ComObject {
protected:
    ComObject() noexcept { ModuleLock(); }
    virtual ~ComObject() { ModuleUnlock(); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    // Objects live in one single-threaded apartment: a plain counter suffices.
    ULONG AddRefImpl() noexcept { return static_cast<ULONG>(++refs_); }
    ULONG ReleaseImpl() noexcept {
        LONG refs = --refs_;
        if (refs == 0) delete this;
        return static_cast<ULONG>(refs);
    }

private:
    LONG refs_ = 0;
};

}  // namespace qor
