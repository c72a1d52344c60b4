#include "hosts/pagehost/Diagnostics.h"

#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <cstddef>
#include <vector>

namespace pagehost {

namespace {

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

constexpr auto kSystemExtendedHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(64);
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
constexpr size_t kMaxHandleTableBytes = 64u << 20;

// This process's entries in the system handle table; 0 when it cannot be read.
uint64_t CountOwnHandleEntries() {
    std::vector<char> buffer(256u << 10);
    NTSTATUS status;
    while ((status = NtQuerySystemInformation(kSystemExtendedHandleInformation, buffer.data(),
                                              static_cast<ULONG>(buffer.size()), nullptr)) == kInfoLengthMismatch &&
           buffer.size() < kMaxHandleTableBytes)
        buffer.resize(buffer.size() * 2);
    if (status != 0) return 0;
    const auto* table = reinterpret_cast<const SystemHandleTable*>(buffer.data());
    const size_t fits = (buffer.size() - offsetof(SystemHandleTable, entries)) / sizeof(SystemHandleEntry);
    const ULONG_PTR self = GetCurrentProcessId();
    uint64_t own = 0;
    for (size_t i = 0; i < table->count && i < fits; ++i) own += table->entries[i].processId == self;
    return own;
}

// Wine answers GetProcessHandleCount with 0 (a live process always holds
// handles); its system handle table is right, so count there instead.
uint64_t HandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return count;
    return CountOwnHandleEntries();
}

}  // namespace

ProcessCounters ReadProcessCounters() {
    ProcessCounters counters;
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
        counters.workingSetBytes = memory.WorkingSetSize;
        // Windows gives the same number as both; Wine only as PagefileUsage.
        counters.privateBytes = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
    }
    counters.handles = HandleCount();
    return counters;
}

std::string DiagnosticsJson(const ProcessCounters& counters, int connections, uint64_t requests) {
    return "{\"workingSetBytes\":" + std::to_string(counters.workingSetBytes) +
           ",\"privateBytes\":" + std::to_string(counters.privateBytes) +
           ",\"handles\":" + std::to_string(counters.handles) +
           ",\"connections\":" + std::to_string(connections) +
           ",\"requests\":" + std::to_string(requests) + "}\n";
}

}  // namespace pagehost
