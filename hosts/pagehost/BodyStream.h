#pragma once
// The body of one request as the connection delivers it. A page's
// BinaryRead takes it from here in the sizes the page asks for, each piece
// as it arrives; what the page leaves, the host drains or cuts off after the
// answer. Besides the bytes that came in with the head, nothing of the body
// is held here: each read goes straight into the caller's memory.
//
// One thread at a time uses a stream: the page's worker while the page
// runs, the connection thread before and after (the worker pool's handover
// orders the two).
#include <winsock2.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace pagehost {

enum class Received { Complete, TooLarge, Closed, TimedOut };

// One recv that waits at most `wait` for data. On Complete, `n` bytes are in
// `into`; Closed when the client closed or the connection failed.
Received ReceiveWithin(SOCKET client, char* into, int size, std::chrono::milliseconds wait, int& n);

bool SendAll(SOCKET s, const char* data, size_t size);

// What BinaryRead fails with when the body stops coming: no byte within the
// read timeout, or the connection closed or broke before the body's end.
inline constexpr HRESULT kBodyTimedOut = HRESULT_FROM_WIN32(WSAETIMEDOUT);
inline constexpr HRESULT kBodyCut = HRESULT_FROM_WIN32(WSAECONNRESET);

class BodyStream {
public:
    // `early` holds what arrived after the head; a client that sent
    // "Expect: 100-continue" hears "100 Continue" before the first read.
    BodyStream(SOCKET client, uint64_t length, std::string early, std::chrono::milliseconds timeout,
               bool continueExpected);
    BodyStream(const BodyStream&) = delete;
    BodyStream& operator=(const BodyStream&) = delete;

    uint64_t Length() const { return length_; }
    uint64_t Taken() const { return taken_; }
    uint64_t Left() const { return length_ - taken_; }
    HRESULT Failure() const { return failure_; }
    // The client still waits for "100 Continue": it has sent no body, or
    // only what it sent after it stopped waiting.
    bool ContinueOwed() const { return continueOwed_; }

    // Fills `size` bytes, at most Left(), waiting at most the read timeout
    // for each piece. S_OK, or kBodyTimedOut / kBodyCut; after a failure
    // every read fails the same way at once.
    HRESULT Read(char* into, size_t size);
    // Reads the rest and throws it away; fails as Read does.
    HRESULT Drain();

private:
    HRESULT Fail(Received why);

    const SOCKET client_;
    const uint64_t length_;
    std::string early_;
    size_t earlyTaken_ = 0;
    const std::chrono::milliseconds timeout_;
    bool continueOwed_;
    uint64_t taken_ = 0;
    HRESULT failure_ = S_OK;
};

}  // namespace pagehost
