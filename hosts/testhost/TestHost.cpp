#include "hosts/testhost/TestHost.h"

#include "hosts/testhost/HostObjects.h"

namespace testhost {

LONG LiveHostObjectsInProcess() { return liveHostObjects.load(); }

TestHost::TestHost() : state_(std::make_shared<HostState>()) {}

TestHost::~TestHost() = default;

void TestHost::SetContentType(std::wstring_view text) {
    VARIANT* value = state_->contentType.put();
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

HRESULT TestHost::SetContentTypeVariant(const VARIANT& value) {
    return VariantCopy(state_->contentType.put(), const_cast<VARIANT*>(&value));
}

void TestHost::SetBody(std::string_view bytes) {
    state_->body.assign(bytes.begin(), bytes.end());
    state_->readPosition = 0;
}

int TestHost::BinaryReads() const { return state_->binaryReads; }

void TestHost::SetTotalBytes(LONG total) { state_->totalBytes = total; }

void TestHost::SetReadShape(ReadShape shape, ULONG shortLength) {
    state_->readShape = shape;
    state_->shortLength = shortLength;
}

void TestHost::SetReadDelay(DWORD milliseconds) { state_->readDelay = milliseconds; }

void TestHost::SetStepResult(HostStep step, HRESULT result) {
    state_->results[static_cast<size_t>(step)] = result;
}

void TestHost::FailNthCall(HostStep step, int nth, HRESULT result) {
    const auto index = static_cast<size_t>(step);
    state_->failingCall[index] = nth > 0 ? state_->calls[index] + nth : 0;
    state_->failingCallResult[index] = result;
}

void TestHost::SetNullAnswer(HostStep step, bool null) {
    state_->nullAnswers[static_cast<size_t>(step)] = null;
}

ComPtr<IUnknown> TestHost::NewScriptingContext() {
    IScriptingContext* context = new HostScriptingContext(state_);
    return ComPtr<IUnknown>::Attach(context);
}

int TestHost::Calls(HostStep step) const { return state_->calls[static_cast<size_t>(step)]; }
LONG TestHost::LiveObjects() const { return state_->liveObjects; }
std::wstring_view TestHost::LastItemKey() const { return state_->lastItemKey; }
VARTYPE TestHost::LastItemKeyType() const { return state_->lastItemKeyType; }
LONG TestHost::LastReadCount() const { return state_->lastReadCount; }
VARTYPE TestHost::LastReadCountType() const { return state_->lastReadCountType; }

}  // namespace testhost
