#include "upload/RequestBody.h"

#include <asptlb.h>

#include "uploadLib.h"

namespace qor {

HRESULT ByteArrayOf(const VARIANT& answer, SAFEARRAY** out) noexcept {
    *out = nullptr;
    SAFEARRAY* array = nullptr;
    if (V_VT(&answer) == (VT_ARRAY | VT_UI1))
        array = V_ARRAY(&answer);
    else if (V_VT(&answer) == (VT_BYREF | VT_ARRAY | VT_UI1))
        array = V_ARRAYREF(&answer) ? *V_ARRAYREF(&answer) : nullptr;
    else
        return DISP_E_TYPEMISMATCH;
    if (array && (SafeArrayGetDim(array) != 1 || SafeArrayGetElemsize(array) != 1)) return DISP_E_TYPEMISMATCH;
    *out = array;
    return S_OK;
}

ChunkedRequestInput::ChunkedRequestInput(IRequest& request, LONG total, LONG chunk, BodyReadObserver* observer)
    : ChunkedInput(total > 0 ? static_cast<uint32_t>(total) : 0, chunk > 0 ? static_cast<uint32_t>(chunk) : 0,
                   chunk <= 0),
      request_(request),
      total_(total),
      observer_(observer) {}

void ChunkedRequestInput::ReadWhole() {
    const unsigned char* bytes = nullptr;
    if (total_ <= 0) {
        Ask(total_, bytes);
        return;
    }
    PeekRun(bytes);  // the first refill asks for the one chunk
}

uint32_t ChunkedRequestInput::ReadChunk(uint32_t count, const unsigned char*& bytes) {
    return Ask(static_cast<LONG>(count), bytes);
}

uint32_t ChunkedRequestInput::Ask(LONG ask, const unsigned char*& bytes) {
    // The last chunk goes before the next is asked for.
    data_.reset();
    answer_.reset();
    HRESULT hr;
    {
        UniqueVariant count;
        V_VT(count.get()) = VT_I4;
        V_I4(count.get()) = ask;
        hr = request_.BinaryRead(count.get(), answer_.put());
    }  // whatever the host wrote back into the count is not used
    if (FAILED(hr)) throw BodyReadFailure{kNoBinaryRead, hr};
    // With nothing to read, the answer is not looked at: hosts answer an
    // empty read with an empty array, VT_EMPTY or VT_NULL alike.
    if (ask <= 0) return 0;
    SAFEARRAY* array = nullptr;
    if (FAILED(hr = ByteArrayOf(*answer_.get(), &array))) throw BodyReadFailure{kNoBinaryRead, hr};
    const uint32_t n = array ? array->rgsabound[0].cElements : 0;
    if (n == 0) return 0;
    void* data = nullptr;
    if (FAILED(hr = LockArrayData(array, data_, &data))) throw BodyReadFailure{kNoBinaryRead, hr};
    bytes = static_cast<const unsigned char*>(data);
    received_ += n;
    if (observer_) observer_->BodyReceived(received_);
    return n;
}

void ChunkedRequestInput::EndedEarly(uint32_t received, uint32_t total) {
    throw BodyReadFailure{"The request body ended after " + std::to_string(received) + " of its " +
                              std::to_string(total) + " bytes",
                          QOR_E_BODY_INCOMPLETE};
}

}  // namespace qor
