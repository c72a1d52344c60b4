#include "HostObjects.h"

#include "com/Failure.h"

#include <algorithm>
#include <cstring>
#include <new>

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
        try {
            state.byRefArrays.emplace_back(array);
        } catch (const std::bad_alloc&) {
            SafeArrayDestroy(array);
            return E_OUTOFMEMORY;
        }
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
    if (count->vt == (VT_BYREF | VT_VARIANT) && count->pvarVal) count = count->pvarVal;
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
    if (request) *request = nullptr;
    const HRESULT result = State().Enter(HostStep::GetRequest);
    if (FAILED(result)) return result;
    if (!request) return E_POINTER;
    if (State().NullAnswer(HostStep::GetRequest)) return result;
    auto* object = new (std::nothrow) HostRequest(SharedState());
    if (!object) return E_OUTOFMEMORY;
    *request = object;  // the creator's reference goes to the caller
    return result;
}

HostRequest::HostRequest(std::shared_ptr<HostState> state)
    : HostObject(std::move(state), IID_IRequest) {}

HRESULT WINAPI HostRequest::get_ServerVariables(IRequestDictionary** dict) {
    if (dict) *dict = nullptr;
    const HRESULT result = State().Enter(HostStep::GetServerVariables);
    if (FAILED(result)) return result;
    if (!dict) return E_POINTER;
    if (State().NullAnswer(HostStep::GetServerVariables)) return result;
    auto* object = new (std::nothrow) HostServerVariables(SharedState());
    if (!object) return E_OUTOFMEMORY;
    *dict = object;  // the creator's reference goes to the caller
    return result;
}

HRESULT WINAPI HostRequest::get_TotalBytes(LONG* total) {
    if (total) *total = 0;
    const HRESULT result = State().Enter(HostStep::GetTotalBytes);
    if (FAILED(result)) return result;
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
    if (FAILED(stepResult)) return stepResult;
    if (!count || !result) return E_POINTER;

    state.lastReadCountType = count->vt;
    UniqueVariant asked;
    RETURN_IF_FAILED(VariantChangeType(asked.get(), count, 0, VT_I4));
    const LONG wanted = asked->lVal;
    state.lastReadCount = wanted;
    const bool firstRead = state.binaryReads++ == 0;

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
    if (FAILED(result)) return result;
    if (!value) return E_POINTER;

    state.lastItemKeyType = key.vt;
    state.lastItemKey.clear();
    // Script variables arrive by reference; the name is read as text.
    UniqueVariant name;
    RETURN_IF_FAILED(VariantCopyInd(name.get(), &key));
    if (name->vt != VT_BSTR) RETURN_IF_FAILED(VariantChangeType(name.get(), name.get(), 0, VT_BSTR));
    try {
        state.lastItemKey.assign(name->bstrVal ? name->bstrVal : L"", SysStringLen(name->bstrVal));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }

    // Server variable names are not case-sensitive; unknown ones are empty.
    const auto keyLength = static_cast<int>(state.lastItemKey.size());
    if (CompareStringOrdinal(state.lastItemKey.c_str(), keyLength, L"CONTENT_TYPE", -1, TRUE) != CSTR_EQUAL) return result;
    RETURN_IF_FAILED(VariantCopy(value, state.contentType.get()));
    return result;
}

}  // namespace testhost
