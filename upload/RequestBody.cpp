#include "RequestBody.h"

#include <asptlb.h>

#include <algorithm>
#include <cstring>

#include "uploadLib.h"

namespace qor {

constexpr const char kNoBinaryRead[] = "Can't call BinaryRead";

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

namespace {
// The get buffer in front of the chunks: large enough for bulk parsing,
// small beside any chunk worth asking for.
constexpr uint32_t kGetBufferSize = 65536;
}  // namespace

ChunkedRequestInput::ChunkedRequestInput(IRequest& request, LONG total, LONG chunk)
    : request_(request), total_(total > 0 ? static_cast<uint32_t>(total) : 0),
      chunk_(chunk > 0 ? static_cast<uint32_t>(chunk) : 1) {
    SetBuffer(std::min(chunk_, kGetBufferSize));
}

uint32_t ChunkedRequestInput::RawRead(unsigned char* destination, uint32_t count) {
    if (taken_ == held_) {
        if (received_ >= total_) return 0;
        ReadChunk();
    }
    const uint32_t n = std::min(count, held_ - taken_);
    std::memcpy(destination, data_->bytes() + taken_, n);
    taken_ += n;
    return n;
}

void ChunkedRequestInput::ReadChunk() {
    // The last chunk goes before the next is asked for.
    data_.reset();
    answer_.reset();
    held_ = taken_ = 0;
    const uint32_t ask = std::min(chunk_, total_ - received_);
    HRESULT hr;
    {
        UniqueVariant count;
        V_VT(count.get()) = VT_I4;
        V_I4(count.get()) = static_cast<LONG>(ask);
        hr = request_.BinaryRead(count.get(), answer_.put());
    }  // whatever the host wrote back into the count is not used
    if (FAILED(hr)) throw BodyReadFailure{kNoBinaryRead, hr};
    SAFEARRAY* bytes = nullptr;
    if (FAILED(hr = ByteArrayOf(*answer_.get(), &bytes))) throw BodyReadFailure{kNoBinaryRead, hr};
    // A host never gives more than asked, and nothing past its array is read.
    const uint32_t n = bytes ? std::min<uint32_t>(bytes->rgsabound[0].cElements, ask) : 0;
    if (n == 0)
        throw BodyReadFailure{"The request body ended after " + std::to_string(received_) + " of its " +
                                  std::to_string(total_) + " bytes",
                              QOR_E_BODY_INCOMPLETE};
    data_.emplace(bytes);
    if (FAILED(data_->result())) {
        hr = data_->result();
        data_.reset();
        throw BodyReadFailure{kNoBinaryRead, hr};
    }
    held_ = n;
    received_ += n;
}

}  // namespace qor
