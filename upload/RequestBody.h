#pragma once
// Reading the request body from the host: the byte array of a BinaryRead
// answer, and a reader that takes the body through successive BinaryRead
// calls of a bounded size. Failures of the host leave as BodyReadFailure.
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "support/ChunkedInput.h"
#include "com/ComHolders.h"

struct IRequest;

namespace qor {

// What a script sees when the host's BinaryRead fails or answers in a wrong shape.
inline constexpr char kNoBinaryRead[] = "Can't call BinaryRead";

// Why reading the body broke off: the description a script sees and the code.
struct BodyReadFailure {
    std::string description;
    HRESULT code;
};

// Told, after each answer of the host, how many bytes of the body have come.
class BodyReadObserver {
public:
    virtual void BodyReceived(uint32_t bytes) noexcept = 0;

protected:
    ~BodyReadObserver() = default;
};

// The array of a BinaryRead answer, held directly or by reference; null when
// it holds none. Anything but a one-dimensional array of bytes is a type
// mismatch.
HRESULT ByteArrayOf(const VARIANT& answer, SAFEARRAY** out) noexcept;

// The body of `total` bytes, asked of the host through BinaryRead in chunks
// of at most `chunk` bytes (see ChunkedInput), or with a chunk of 0 or less
// in one chunk of the whole body. A failed or malformed answer raises
// BodyReadFailure, as does a chunked body that ends early, with
// QOR_E_BODY_INCOMPLETE.
class ChunkedRequestInput final : public ChunkedInput {
public:
    ChunkedRequestInput(IRequest& request, LONG total, LONG chunk, BodyReadObserver* observer = nullptr);

    // For the whole body in one chunk: asks for it now, before the parse,
    // as hosts expect of a page that reads its body. An answer shorter than
    // `total` is the body. With a total of 0 or less the host is still asked,
    // for that count, and its answer is not looked at.
    void ReadWhole();

protected:
    uint32_t ReadChunk(uint32_t count, const unsigned char*& bytes) override;
    [[noreturn]] void EndedEarly(uint32_t received, uint32_t total) override;

private:
    // The one BinaryRead: asks for count bytes and points bytes at the
    // answer's, valid until the next call; returns how many it gave.
    uint32_t Ask(LONG count, const unsigned char*& bytes);

    IRequest& request_;
    const LONG total_;
    BodyReadObserver* observer_;
    uint32_t received_ = 0;
    // The host's answer for the chunk being read, and its locked bytes.
    UniqueVariant answer_;
    ArrayDataLock data_;
};

}  // namespace qor
