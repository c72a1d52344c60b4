#include "hosts/testhost/HostObjects.h"

#include "com/Failure.h"
#include "com/VariantRef.h"

#include <algorithm>
#include <cstring>

using namespace qor;

namespace testhost {

std::atomic<LONG> liveHostObjects{0};

namespace {

// A new one-dimensional array, lower bound 0, of one element per byte:
// VT_UI1 elements hold the bytes, VT_I4 elements their values.
HRESULT NewVector(VARTYPE type, const BYTE* bytes, ULONG count, SAFEARRAY** out) {
    *out = nullptr;
    UniqueSafeArray array(SafeArrayCreateVector(type, 0, count));
    if (!array) return E_OUTOFMEMORY;
    if (count > 0) {
        void* data = nullptr;
        ArrayDataLock lock;
        RETURN_IF_FAILED(LockArrayData(array.get(), lock, &data));
        if (type == VT_UI1)
            std::memcpy(data, bytes, count);
        else
            std::copy(bytes, bytes + count, static_cast<LONG*>(data));
    }
    *out = array.release();
    return S_OK;
}

// Keeps the target of a by-reference answer for the host's life.
HRESULT KeepAlive(HostState& state, UniqueSafeArray array) {
    return qor::CallBoundary([&] {
        state.byRefArrays.push_back(std::move(array));
        return S_OK;
    });
}

// Builds what BinaryRead hands back for `length` body bytes from `body` on.
HRESULT MakeAnswer(HostState& state, const BYTE* body, ULONG length, VARIANT* result) {
    SAFEARRAY* array = nullptr;
    switch (state.readShape) {
    case ReadShape::NotAnArray:
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(length);
        return S_OK;
    case ReadShape::NonByteArray:
        RETURN_IF_FAILED(NewVector(VT_I4, body, length, &array));
        result->vt = VT_ARRAY | VT_I4;
        result->parray = array;
        return S_OK;
    case ReadShape::ByteArrayByRef:
        RETURN_IF_FAILED(NewVector(VT_UI1, body, length, &array));
        RETURN_IF_FAILED(KeepAlive(state, UniqueSafeArray(array)));
        result->vt = VT_BYREF | VT_ARRAY | VT_UI1;
        result->pparray = state.byRefArrays.back().addressof();
        return S_OK;
    case ReadShape::NothingAsEmpty:
    case ReadShape::NothingAsNull:
        if (length != 0) break;
        result->vt = state.readShape == ReadShape::NothingAsNull ? VT_NULL : VT_EMPTY;
        return S_OK;
    case ReadShape::ByteArray:
    case ReadShape::ShortByteArray:
    case ReadShape::EmptyAfterFirst:
    case ReadShape::Stream:
        break;
    }
    RETURN_IF_FAILED(NewVector(VT_UI1, body, length, &array));
    result->vt = VT_ARRAY | VT_UI1;
    result->parray = array;
    return S_OK;
}

// A page host writes back how many bytes it read, through a script
// variable's reference when it was given one.
void WriteCount(VARIANT* count, LONG bytesRead) {
    count = FollowReference(count);
    if (count->vt == (VT_BYREF | VT_I4) && count->plVal) {
        *count->plVal = bytesRead;
        return;
    }
    VariantClear(count);
    count->vt = VT_I4;
    count->lVal = bytesRead;
}

}  // namespace

HostScriptingContext::HostScriptingContext(std::shared_ptr<HostState> state)
    : HostObject(std::move(state), IID_IScriptingContext) {}

HRESULT WINAPI HostScriptingContext::QueryInterface(REFIID iid, void** out) {
    if (iid != IID_IScriptingContext) return HostObject::QueryInterface(iid, out);
    if (out) *out = nullptr;
    const HRESULT result = State().Enter(HostStep::QueryScriptingContext);
    if (FAILED(result) || State().NullAnswer(HostStep::QueryScriptingContext)) return result;
    const HRESULT hr = HostObject::QueryInterface(iid, out);
    return FAILED(hr) ? hr : result;
}

HRESULT WINAPI HostScriptingContext::get_Request(IRequest** request) {
    return HandOut<HostRequest>(HostStep::GetRequest, request);
}

HostRequest::HostRequest(std::shared_ptr<HostState> state)
    : HostObject(std::move(state), IID_IRequest) {}

HRESULT WINAPI HostRequest::get_ServerVariables(IRequestDictionary** dict) {
    return HandOut<HostServerVariables>(HostStep::GetServerVariables, dict);
}

HRESULT WINAPI HostRequest::get_TotalBytes(LONG* total) {
    if (total) *total = 0;
    const HRESULT result = State().Enter(HostStep::GetTotalBytes);
    RETURN_IF_FAILED(result);
    if (!total) return E_POINTER;
    const HostState& state = State();
    const size_t bodyLength = std::min<size_t>(state.body.size(), LONG_MAX);
    *total = state.totalBytes.value_or(static_cast<LONG>(bodyLength));
    return result;
}

HRESULT WINAPI HostRequest::BinaryRead(VARIANT* count, VARIANT* result) {
    if (result) VariantInit(result);
    HostState& state = State();
    const HRESULT stepResult = state.Enter(HostStep::BinaryRead);
    RETURN_IF_FAILED(stepResult);
    if (!count || !result) return E_POINTER;

    state.lastReadCountType = count->vt;
    UniqueVariant asked;
    RETURN_IF_FAILED(VariantChangeType(asked.get(), count, 0, VT_I4));
    const LONG wanted = asked->lVal;
    state.lastReadCount = wanted;
    const bool firstRead = state.binaryReads++ == 0;
    if (state.readDelay) Sleep(state.readDelay);

    ULONG length = static_cast<ULONG>(std::min<size_t>(state.body.size(), wanted > 0 ? wanted : 0));
    if (state.readShape == ReadShape::ShortByteArray)
        length = static_cast<ULONG>(std::min<size_t>(state.body.size(), state.shortLength));
    if (state.readShape == ReadShape::EmptyAfterFirst && !firstRead) length = 0;
    const BYTE* from = state.body.data();
    if (state.readShape == ReadShape::Stream) {
        from += state.readPosition;
        length = static_cast<ULONG>(std::min<size_t>(state.body.size() - state.readPosition, wanted > 0 ? wanted : 0));
        if (state.shortLength != 0) length = std::min(length, state.shortLength);
    }
    RETURN_IF_FAILED(MakeAnswer(state, from, length, result));
    if (state.readShape == ReadShape::Stream) state.readPosition += length;

    WriteCount(count, static_cast<LONG>(length));
    return stepResult;
}

HostServerVariables::HostServerVariables(std::shared_ptr<HostState> state)
    : HostObject(std::move(state), IID_IRequestDictionary) {}

HRESULT WINAPI HostServerVariables::get_Item(VARIANT key, VARIANT* value) {
    if (value) VariantInit(value);
    HostState& state = State();
    const HRESULT result = state.Enter(HostStep::GetItem);
    RETURN_IF_FAILED(result);
    if (!value) return E_POINTER;

    state.lastItemKeyType = key.vt;
    state.lastItemKey.clear();
    // Script variables arrive by reference; the name is read as text.
    UniqueVariant name;
    RETURN_IF_FAILED(VariantCopyInd(name.get(), &key));
    if (name->vt != VT_BSTR) RETURN_IF_FAILED(VariantChangeType(name.get(), name.get(), 0, VT_BSTR));
    RETURN_IF_FAILED(qor::CallBoundary([&] {
        state.lastItemKey.assign(name->bstrVal ? name->bstrVal : L"", SysStringLen(name->bstrVal));
        return S_OK;
    }));

    // Server variable names are not case-sensitive; unknown ones are empty.
    if (!SameNameIgnoringCase(state.lastItemKey, L"CONTENT_TYPE")) return result;
    RETURN_IF_FAILED(VariantCopy(value, state.contentType.get()));
    return result;
}

}  // namespace testhost
