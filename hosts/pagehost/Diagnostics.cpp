#include "hosts/pagehost/Diagnostics.h"

#include "hosts/ProcessGauge.h"

namespace pagehost {

ProcessCounters ReadProcessCounters() {
    ProcessCounters counters;
    counters.workingSetBytes = hosts::WorkingSetBytes();
    counters.peakWorkingSetBytes = hosts::PeakWorkingSetBytes();
    counters.privateBytes = hosts::PrivateCommittedBytes();
    counters.heapBytes = hosts::HeapsInUse().bytes;
    counters.handles = hosts::OpenHandleCount();
    return counters;
}

std::string DiagnosticsJson(const ProcessCounters& counters, int connections, uint64_t requests) {
    return "{\"workingSetBytes\":" + std::to_string(counters.workingSetBytes) +
           ",\"privateBytes\":" + std::to_string(counters.privateBytes) +
           ",\"heapBytes\":" + std::to_string(counters.heapBytes) +
           ",\"handles\":" + std::to_string(counters.handles) +
           ",\"connections\":" + std::to_string(connections) +
           ",\"requests\":" + std::to_string(requests) +
           ",\"peakWorkingSetBytes\":" + std::to_string(counters.peakWorkingSetBytes) + "}\n";
}

}  // namespace pagehost
