#pragma once
// The host's COM objects, with the exact vtable layouts of the page host
// interfaces. Methods a component never calls return E_NOTIMPL; IDispatch
// offers no type information (components call through the vtable). Every
// method answers with a result code (the one configured for its step, when it
// is a failure) and throws nothing.
#include "hosts/testhost/HostState.h"
#include "com/Failure.h"
#include "hosts/HostDispatch.h"

#include <windows.h>
#include <asptlb.h>

#include <atomic>
#include <memory>
#include <new>

namespace testhost {

// The component's resource owners and failure idiom, unqualified.
using namespace qor;

// Host objects alive in the process, across every TestHost: a library that
// hands them out must stay loaded while a component still holds one.
extern std::atomic<LONG> liveHostObjects;

// Reference counting, QueryInterface and the empty IDispatch for one host object.
template <typename Interface>
class HostObject : public HostDispatch<Interface> {
public:
    HostObject(std::shared_ptr<HostState> state, const IID& iid)
        : HostDispatch<Interface>(iid, IID_IDispatch), state_(std::move(state)) {
        ++state_->liveObjects;
        ++liveHostObjects;
    }
    ~HostObject() override {
        --state_->liveObjects;
        --liveHostObjects;
    }

    HRESULT WINAPI GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT WINAPI Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

protected:
    HostState& State() { return *state_; }

    // A step that hands out a new host object: counted, answered with the
    // configured result, and with a null object when so configured.
    template <typename Object, typename Out>
    HRESULT HandOut(HostStep step, Out** out) {
        if (out) *out = nullptr;
        const HRESULT result = state_->Enter(step);
        RETURN_IF_FAILED(result);
        if (!out) return E_POINTER;
        if (state_->NullAnswer(step)) return result;
        auto* object = new (std::nothrow) Object(state_);
        if (!object) return E_OUTOFMEMORY;
        *out = object;  // the creator's reference goes to the caller
        return result;
    }

private:
    std::shared_ptr<HostState> state_;
};

class HostScriptingContext final : public HostObject<IScriptingContext> {
public:
    explicit HostScriptingContext(std::shared_ptr<HostState> state);

    HRESULT WINAPI QueryInterface(REFIID iid, void** out) override;
    HRESULT WINAPI get_Request(IRequest** request) override;
    HRESULT WINAPI get_Response(IResponse** response) override { return NotImplemented(response); }
    HRESULT WINAPI get_Server(IServer** server) override { return NotImplemented(server); }
    HRESULT WINAPI get_Session(ISessionObject** session) override { return NotImplemented(session); }
    HRESULT WINAPI get_Application(IApplicationObject** application) override { return NotImplemented(application); }
};

class HostRequest final : public HostObject<IRequest> {
public:
    explicit HostRequest(std::shared_ptr<HostState> state);

    HRESULT WINAPI get_Item(BSTR, IDispatch** item) override { return NotImplemented(item); }
    HRESULT WINAPI get_QueryString(IRequestDictionary** dict) override { return NotImplemented(dict); }
    HRESULT WINAPI get_Form(IRequestDictionary** dict) override { return NotImplemented(dict); }
    HRESULT WINAPI get_Body(IRequestDictionary** dict) override { return NotImplemented(dict); }
    HRESULT WINAPI get_ServerVariables(IRequestDictionary** dict) override;
    HRESULT WINAPI get_ClientCertificate(IRequestDictionary** dict) override { return NotImplemented(dict); }
    HRESULT WINAPI get_Cookies(IRequestDictionary** dict) override { return NotImplemented(dict); }
    HRESULT WINAPI get_TotalBytes(LONG* total) override;
    HRESULT WINAPI BinaryRead(VARIANT* count, VARIANT* result) override;
};

// The server variables; only "CONTENT_TYPE" has a value.
class HostServerVariables final : public HostObject<IRequestDictionary> {
public:
    explicit HostServerVariables(std::shared_ptr<HostState> state);

    HRESULT WINAPI get_Item(VARIANT key, VARIANT* value) override;
    HRESULT WINAPI get__NewEnum(IUnknown** enumerator) override { return NotImplemented(enumerator); }
    HRESULT WINAPI get_Count(int* count) override {
        if (count) *count = 0;
        return E_NOTIMPL;
    }
    HRESULT WINAPI get_Key(VARIANT, VARIANT* key) override {
        if (key) VariantInit(key);
        return E_NOTIMPL;
    }
};

}  // namespace testhost
