#pragma once
// What the page host can tell about itself when started with --diagnostics:
// its own memory and handle count, for load tests that watch for leaks.
#include <cstdint>
#include <string>

namespace pagehost {

struct ProcessCounters {
    uint64_t workingSetBytes = 0;
    uint64_t peakWorkingSetBytes = 0;  // the most the working set has been since the start
    uint64_t privateBytes = 0;  // committed memory that is the process's own
    uint64_t heapBytes = 0;     // what the heaps hold in use
    uint64_t handles = 0;
};

// This process's counters now; a counter the system cannot give stays 0.
ProcessCounters ReadProcessCounters();

// {"workingSetBytes":..,"privateBytes":..,"heapBytes":..,"handles":..,"connections":..,"requests":..,
//  "peakWorkingSetBytes":..}
std::string DiagnosticsJson(const ProcessCounters& counters, int connections, uint64_t requests);

}  // namespace pagehost
