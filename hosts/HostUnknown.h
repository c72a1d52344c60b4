#pragma once
// IUnknown for the hosts' own COM objects: an atomic reference count that
// starts with the creator's reference (a component may release a host object
// from any thread), and QueryInterface for IUnknown and at most two further
// interface identifiers, all answered by the one Interface. QueryInterface
// fails only with E_POINTER or E_NOINTERFACE; the counts cannot fail.
#include <windows.h>

template <typename Interface>
class HostUnknown : public Interface {
public:
    HRESULT WINAPI QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != iid_ && iid != alsoIid_) return E_NOINTERFACE;
        *out = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    ULONG WINAPI AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG WINAPI Release() override {
        const LONG refs = InterlockedDecrement(&refs_);
        if (refs == 0) delete this;
        return static_cast<ULONG>(refs);
    }

protected:
    explicit HostUnknown(const IID& iid, const IID& alsoIid = IID_IUnknown) : iid_(iid), alsoIid_(alsoIid) {}
    virtual ~HostUnknown() = default;
    HostUnknown(const HostUnknown&) = delete;
    HostUnknown& operator=(const HostUnknown&) = delete;

private:
    const IID& iid_;
    const IID& alsoIid_;
    LONG refs_ = 1;  // the creator's reference
};
