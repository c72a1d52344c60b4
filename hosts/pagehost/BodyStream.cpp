#include "hosts/pagehost/BodyStream.h"

#include <algorithm>
#include <cstring>

namespace pagehost {

using std::chrono::milliseconds;

Received ReceiveWithin(SOCKET client, char* into, int size, milliseconds wait, int& n) {
    const long long ms = std::max<long long>(wait.count(), 0);
    timeval limit{static_cast<long>(ms / 1000), static_cast<long>(ms % 1000 * 1000)};
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(client, &readable);
    const int ready = select(0, &readable, nullptr, nullptr, &limit);
    if (ready == 0) return Received::TimedOut;
    n = ready > 0 ? recv(client, into, size, 0) : SOCKET_ERROR;
    if (n > 0) return Received::Complete;
    return n == SOCKET_ERROR && WSAGetLastError() == WSAETIMEDOUT ? Received::TimedOut : Received::Closed;
}

bool SendAll(SOCKET s, const char* data, size_t size) {
    while (size > 0) {
        const int chunk = static_cast<int>(std::min<size_t>(size, 1 << 20));
        const int sent = send(s, data, chunk, 0);
        if (sent <= 0) return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

BodyStream::BodyStream(SOCKET client, uint64_t length, std::string early, milliseconds timeout, bool continueExpected)
    : client_(client), length_(length), early_(std::move(early)), timeout_(timeout),
      continueOwed_(continueExpected && length > 0) {
    // Bytes past the body's end (a pipelined request) are not the page's.
    if (early_.size() > length_) early_.resize(static_cast<size_t>(length_));
}

HRESULT BodyStream::Fail(Received why) {
    failure_ = why == Received::TimedOut ? kBodyTimedOut : kBodyCut;
    return failure_;
}

HRESULT BodyStream::Read(char* into, size_t size) {
    if (FAILED(failure_)) return failure_;
    size = static_cast<size_t>(std::min<uint64_t>(size, Left()));
    if (size > 0 && continueOwed_) {
        continueOwed_ = false;
        static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
        if (!SendAll(client_, kContinue, sizeof kContinue - 1)) return Fail(Received::Closed);
    }
    const size_t early = std::min(size, early_.size() - earlyTaken_);
    std::memcpy(into, early_.data() + earlyTaken_, early);
    earlyTaken_ += early;
    if (earlyTaken_ == early_.size()) {  // its memory goes back once it is read
        std::string().swap(early_);
        earlyTaken_ = 0;
    }
    taken_ += early;
    for (size_t filled = early; filled < size;) {
        const int want = static_cast<int>(std::min<size_t>(size - filled, 1u << 30));
        int n = 0;
        if (const Received got = ReceiveWithin(client_, into + filled, want, timeout_, n); got != Received::Complete)
            return Fail(got);
        filled += static_cast<size_t>(n);
        taken_ += static_cast<uint64_t>(n);
    }
    return S_OK;
}

HRESULT BodyStream::Drain() {
    char sink[65536];
    while (Left() > 0)
        if (const HRESULT hr = Read(sink, sizeof sink); FAILED(hr)) return hr;
    return S_OK;
}

}  // namespace pagehost
