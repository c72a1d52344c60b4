#pragma once
// The current process's memory and open handles, for the long runs that must
// show them flat (the component soak, the page host's diagnostics). Each is
// measured the way it is defined rather than read from a counter where Wine
// leaves the counter at zero (PrivateUsage, the process's handle count).
// Nothing here fails or throws; a measure the system cannot give is 0.
#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <cstddef>
#include <cstdint>
#include <vector>

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

inline uint64_t WorkingSetBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.WorkingSetSize : 0;
}

inline uint64_t PeakWorkingSetBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.PeakWorkingSetSize : 0;
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

namespace detail {

// One entry of the system's handle table (SystemExtendedHandleInformation).
struct SystemHandleEntry {
    PVOID object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG attributes;
    ULONG reserved;
};

struct SystemHandleTable {
    ULONG_PTR count;
    ULONG_PTR reserved;
    SystemHandleEntry entries[1];
};

// This process's entries in the system handle table; 0 when it cannot be read.
inline DWORD CountOwnHandleEntries() {
    constexpr auto kSystemExtendedHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(64);
    constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
    constexpr size_t kMaxTableBytes = 64u << 20;
    std::vector<char> buffer(256u << 10);
    NTSTATUS status;
    while ((status = NtQuerySystemInformation(kSystemExtendedHandleInformation, buffer.data(),
                                              static_cast<ULONG>(buffer.size()), nullptr)) == kInfoLengthMismatch &&
           buffer.size() < kMaxTableBytes)
        buffer.resize(buffer.size() * 2);
    if (status != 0) return 0;
    const auto* table = reinterpret_cast<const SystemHandleTable*>(buffer.data());
    const size_t fits = (buffer.size() - offsetof(SystemHandleTable, entries)) / sizeof(SystemHandleEntry);
    const ULONG_PTR self = GetCurrentProcessId();
    DWORD own = 0;
    for (size_t i = 0; i < table->count && i < fits; ++i) own += table->entries[i].processId == self;
    return own;
}

}  // namespace detail

// Open handles: the system's count where it keeps one (Wine answers 0, and a
// live process always holds handles), otherwise this process's entries in the
// system handle table, which Wine keeps right.
inline DWORD OpenHandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) return count;
    try {
        return detail::CountOwnHandleEntries();
    } catch (...) {  // no memory for the table
        return 0;
    }
}

}  // namespace hosts
