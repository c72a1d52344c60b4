#include "server/ClassObject.h"

#include <atomic>
#include <new>

#include "com/ComHolders.h"
#include "com/Module.h"
#include "upload/UploadFactory.h"
#include "uploadLib.h"

namespace qor {
namespace {

using Creator = HRESULT (*)(IUnknown* outer, REFIID iid, void** out) noexcept;

// Shared by every apartment that asks for it, so its count is atomic. It does
// not hold a module lock: the module itself keeps it until unload.
class ClassObject final : public IClassFactory {
public:
    explicit ClassObject(Creator create) noexcept : create_(create) {}

public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG refs = --refs_;
        if (refs == 0) delete this;
        return refs;
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        // An aggregating caller must ask for the inner unknown.
        if (outer && iid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
        return create_(outer, iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) ModuleLock();
        else ModuleUnlock();
        return S_OK;
    }

private:
    ~ClassObject() = default;
    const Creator create_;
    std::atomic<ULONG> refs_{0};
};

// The object table: each class's creator and its cached class object.
struct ClassEntry {
    const CLSID& clsid;
    Creator create;
    std::atomic<IClassFactory*> cached{nullptr};
};
ClassEntry classTable[] = {{CLSID_CQORUpload, &CreateUploadObject}, {CLSID_CQORUploadProgress, &CreateProgressObject}};

}  // namespace

HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept {
    if (!ModuleInitialized()) return E_UNEXPECTED;
    if (!out) return E_POINTER;
    *out = nullptr;
    ClassEntry* entry = nullptr;
    for (ClassEntry& candidate : classTable)
        if (clsid == candidate.clsid) entry = &candidate;
    if (!entry) return CLASS_E_CLASSNOTAVAILABLE;

    IClassFactory* classObject = entry->cached.load();
    if (!classObject) {
        ModuleCriticalSectionGuard guard;
        classObject = entry->cached.load();
        if (!classObject) {
            classObject = new (std::nothrow) ClassObject(entry->create);
            if (!classObject) return E_OUTOFMEMORY;
            classObject->AddRef();  // the module's reference, dropped at unload
            entry->cached.store(classObject);
        }
    }
    HRESULT hr = classObject->QueryInterface(iid, out);
    if (SUCCEEDED(hr) && !*out) return CLASS_E_CLASSNOTAVAILABLE;
    return hr;
}

void ReleaseClassObject() noexcept {
    for (ClassEntry& entry : classTable)
        if (IClassFactory* classObject = entry.cached.exchange(nullptr)) classObject->Release();
}

}  // namespace qor
