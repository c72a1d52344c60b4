#include "com/Module.h"

#include <atomic>

#include "com/ComHolders.h"

namespace qor {
namespace {

std::atomic<LONG> lockCount{0};
HINSTANCE moduleInstance = nullptr;

// Initialised before any code of the module runs (static initialisation of the
// module image) and deleted when the module is unloaded; empty when it could
// not be initialised.
CRITICAL_SECTION section;
const UniqueCriticalSection criticalSection(InitializeCriticalSectionAndSpinCount(&section, 0) ? &section : nullptr);

}  // namespace

void ModuleLock() noexcept { lockCount.fetch_add(1); }
void ModuleUnlock() noexcept { lockCount.fetch_sub(1); }
LONG ModuleLockCount() noexcept { return lockCount.load(); }

void SetModuleInstance(HINSTANCE instance) noexcept { moduleInstance = instance; }
HINSTANCE ModuleInstance() noexcept { return moduleInstance; }

bool ModuleInitialized() noexcept { return static_cast<bool>(criticalSection); }

ModuleCriticalSectionGuard::ModuleCriticalSectionGuard() noexcept { EnterCriticalSection(criticalSection.get()); }
ModuleCriticalSectionGuard::~ModuleCriticalSectionGuard() { LeaveCriticalSection(criticalSection.get()); }

}  // namespace qor
