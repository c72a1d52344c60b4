#pragma once
// The current process's private memory, working set and open handles, for
// the long runs that must show them flat. Each is measured the way it is
// defined rather than read from a counter, because Wine leaves the counters
// (PrivateUsage, the handle count) at zero. Nothing here fails or throws.
#include <windows.h>
#include <psapi.h>

#include <cstdint>

namespace hosts {

// Committed private memory: the sum of the committed private regions of the
// address space, which is what Windows reports as private bytes.
inline uint64_t PrivateCommittedBytes() {
    uint64_t total = 0;
    MEMORY_BASIC_INFORMATION region;
    const char* address = nullptr;
    while (VirtualQuery(address, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= address) break;
        address = next;
    }
    return total;
}

// Bytes and blocks in use in the process's heaps: what the program holds, as
// against what the heaps keep committed for it.
struct HeapUse {
    uint64_t bytes = 0;
    uint64_t blocks = 0;
};

inline HeapUse HeapsInUse() {
    HeapUse use;
    HANDLE heaps[64];
    const DWORD count = GetProcessHeaps(64, heaps);
    for (DWORD i = 0; i < count && i < 64; ++i) {
        if (!HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry)) {
            if (!(entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)) continue;
            use.bytes += entry.cbData;
            ++use.blocks;
        }
        HeapUnlock(heaps[i]);
    }
    return use;
}

inline uint64_t WorkingSetBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.WorkingSetSize : 0;
}

// Open handles: the system's count where it keeps one, otherwise the handle
// values (multiples of 4) that name an open handle, up to 65536.
inline DWORD OpenHandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) return count;
    for (uintptr_t value = 4; value < 65536; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

}  // namespace hosts
