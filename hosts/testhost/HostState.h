#pragma once
// What the test host serves and what it has seen; shared by the TestHost and
// every object it hands out. Objects live in one apartment: no locking.
#include "com/ComHolders.h"
#include "hosts/testhost/TestHost.h"

#include <array>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace testhost {

// The component's resource owners and failure idiom, unqualified.
using namespace qor;

struct HostState {
    UniqueVariant contentType;
    std::vector<BYTE> body;
    std::optional<LONG> totalBytes;
    ReadShape readShape = ReadShape::ByteArray;
    ULONG shortLength = 0;
    DWORD readDelay = 0;  // milliseconds before each BinaryRead answers
    std::array<HRESULT, kHostStepCount> results{};
    std::array<int, kHostStepCount> calls{};
    std::array<bool, kHostStepCount> nullAnswers{};
    // One call of the step, by its number among all its calls, that fails
    // with the result beside it; 0: none.
    std::array<int, kHostStepCount> failingCall{};
    std::array<HRESULT, kHostStepCount> failingCallResult{};

    LONG liveObjects = 0;
    int binaryReads = 0;
    size_t readPosition = 0;  // of ReadShape::Stream
    std::wstring lastItemKey;
    VARTYPE lastItemKeyType = VT_EMPTY;
    LONG lastReadCount = 0;
    VARTYPE lastReadCountType = VT_EMPTY;
    // Targets of by-reference answers; a deque keeps their addresses stable.
    std::deque<UniqueSafeArray> byRefArrays;

    // Counts a call of the step and gives the result configured for it.
    HRESULT Enter(HostStep step) {
        const auto index = static_cast<size_t>(step);
        ++calls[index];
        return calls[index] == failingCall[index] ? failingCallResult[index] : results[index];
    }
    bool NullAnswer(HostStep step) const { return nullAnswers[static_cast<size_t>(step)]; }
};

}  // namespace testhost
