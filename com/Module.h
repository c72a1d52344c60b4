#pragma once
// Module-wide state shared by every object of the component: the lock count
// that keeps the library loaded while objects live, and the critical section
// that serialises one-time initialisation (class objects, type information).
#include <windows.h>

namespace qor {

// Atomic lock count: every automation object holds one lock while it lives.
void ModuleLock() noexcept;
void ModuleUnlock() noexcept;
LONG ModuleLockCount() noexcept;

// False when the module's critical section could not be initialised; the
// library must then refuse to load.
bool ModuleInitialized() noexcept;

// The loaded library's own handle, recorded by the load entry.
void SetModuleInstance(HINSTANCE instance) noexcept;
HINSTANCE ModuleInstance() noexcept;

// Holds the module's critical section for its scope.
class ModuleCriticalSectionGuard {
public:
    ModuleCriticalSectionGuard() noexcept;
    ~ModuleCriticalSectionGuard();
    ModuleCriticalSectionGuard(const ModuleCriticalSectionGuard&) = delete;
    ModuleCriticalSectionGuard& operator=(const ModuleCriticalSectionGuard&) = delete;
};

}  // namespace qor
