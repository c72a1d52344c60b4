#pragma once
// Reading the request body from the host: the byte array of a BinaryRead
// answer, and a reader that takes the body through successive BinaryRead
// calls of a bounded size. Failures of the host leave as BodyReadFailure.
#include <windows.h>
#include <oleauto.h>

#include <optional>
#include <string>

#include "InputBuffer.h"
#include "automation/ComHolders.h"

struct IRequest;

namespace qor {

// Why reading the body broke off: the description a script sees and the code.
struct BodyReadFailure {
    std::string description;
    HRESULT code;
};

// The array of a BinaryRead answer, held directly or by reference; null when
// it holds none. Anything but a one-dimensional array of bytes is a type
// mismatch.
HRESULT ByteArrayOf(const VARIANT& answer, SAFEARRAY** out) noexcept;

// Locks a safe array's data for reading while it lives.
class ArrayData {
public:
    explicit ArrayData(SAFEARRAY* array) noexcept : array_(array) { result_ = SafeArrayAccessData(array_, &data_); }
    ~ArrayData() {
        if (SUCCEEDED(result_)) SafeArrayUnaccessData(array_);
    }
    ArrayData(const ArrayData&) = delete;
    ArrayData& operator=(const ArrayData&) = delete;

    HRESULT result() const noexcept { return result_; }
    const unsigned char* bytes() const noexcept { return static_cast<const unsigned char*>(data_); }

private:
    SAFEARRAY* array_;
    void* data_ = nullptr;
    HRESULT result_;
};

// The body of `total` bytes, asked of the host in chunks of at most `chunk`
// bytes, each asked for only when the parse has used up the one before, so
// that no more than one chunk is held at a time. A host may answer a chunk
// with fewer bytes than asked: the reader goes on with what came and asks for
// the rest. An answer with no bytes before `total` is reached means the body
// ended early, and raises BodyReadFailure (QOR_E_BODY_INCOMPLETE), as does a
// failed or malformed answer.
class ChunkedRequestInput final : public InputBuffer {
public:
    ChunkedRequestInput(IRequest& request, LONG total, LONG chunk);

protected:
    uint32_t RawRead(unsigned char* destination, uint32_t count) override;
    void RawSeek(uint32_t) override {}

private:
    void ReadChunk();

    IRequest& request_;
    const uint32_t total_;
    const uint32_t chunk_;
    uint32_t received_ = 0;
    // The chunk being read: the host's answer, its locked bytes, and how many
    // of them are held and taken.
    UniqueVariant answer_;
    std::optional<ArrayData> data_;
    uint32_t held_ = 0, taken_ = 0;
};

}  // namespace qor
