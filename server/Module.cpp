#include "Module.h"

#include <atomic>

namespace qor {
namespace {

std::atomic<LONG> lockCount{0};
HINSTANCE moduleInstance = nullptr;

// Initialised before any code of the module runs (static initialisation of the
// module image) and deleted when the module is unloaded.
class ModuleCriticalSection {
public:
    ModuleCriticalSection() noexcept
        : initialized_(InitializeCriticalSectionAndSpinCount(&section_, 0) != FALSE) {}
    ~ModuleCriticalSection() { if (initialized_) DeleteCriticalSection(&section_); }

    bool initialized() const noexcept { return initialized_; }
    CRITICAL_SECTION* get() noexcept { return &section_; }

private:
    CRITICAL_SECTION section_;
    bool initialized_;
};

ModuleCriticalSection criticalSection;

}  // namespace

void ModuleLock() noexcept { lockCount.fetch_add(1); }
void ModuleUnlock() noexcept { lockCount.fetch_sub(1); }
LONG ModuleLockCount() noexcept { return lockCount.load(); }

void SetModuleInstance(HINSTANCE instance) noexcept { moduleInstance = instance; }
HINSTANCE ModuleInstance() noexcept { return moduleInstance; }

bool ModuleInitialized() noexcept { return criticalSection.initialized(); }

ModuleCriticalSectionGuard::ModuleCriticalSectionGuard() noexcept { EnterCriticalSection(criticalSection.get()); }
ModuleCriticalSectionGuard::~ModuleCriticalSectionGuard() { LeaveCriticalSection(criticalSection.get()); }

}  // namespace qor
