#include "automation/DualDispatch.h"

#include "com/ComHolders.h"
#include "com/Failure.h"
#include "com/Module.h"
#include "uploadLib.h"

#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace qor {

struct DispatchTypeInfo {
    ComPtr<ITypeInfo> typeInfo;
    // Member names as declared, for lookups that match exactly.
    std::vector<std::pair<std::wstring, DISPID>> names;
    // Every loaded entry, for teardown.
    DispatchTypeInfoSlot* slot = nullptr;
    DispatchTypeInfo* next = nullptr;
};

namespace {

DispatchTypeInfo* loadedEntries = nullptr;  // guarded by the module's critical section

HRESULT CollectMemberNames(ITypeInfo* info, std::vector<std::pair<std::wstring, DISPID>>& names) {
    UniqueTypeAttr attr;
    RETURN_IF_FAILED(GetTypeAttr(info, attr));
    for (WORD i = 0; i < attr.get()->cFuncs; ++i) {
        UniqueFuncDesc func;
        RETURN_IF_FAILED(GetFuncDesc(info, i, func));
        const MEMBERID id = func.get()->memid;
        if (func.get()->wFuncFlags & FUNCFLAG_FRESTRICTED) continue;
        UniqueBstr name;
        UINT nameCount = 0;
        RETURN_IF_FAILED(info->GetNames(id, name.put(), 1, &nameCount));
        if (nameCount == 1 && name.get()) names.emplace_back(std::wstring(name.get(), name.length()), id);
    }
    return S_OK;
}

HRESULT LoadEntry(DispatchTypeInfoSlot& slot, REFIID iid, LCID lcid, DispatchTypeInfo** out) {
    ModuleCriticalSectionGuard guard;
    if (DispatchTypeInfo* loaded = slot.load(std::memory_order_acquire)) {
        *out = loaded;
        return S_OK;
    }
    ComPtr<ITypeLib> library;
    RETURN_IF_FAILED(LoadRegTypeLib(LIBID_uploadLib, 2, 0, lcid, library.put()));
    auto entry = std::make_unique<DispatchTypeInfo>();
    RETURN_IF_FAILED(library->GetTypeInfoOfGuid(iid, entry->typeInfo.put()));
    RETURN_IF_FAILED(CollectMemberNames(entry->typeInfo.get(), entry->names));
    entry->slot = &slot;
    entry->next = loadedEntries;
    loadedEntries = entry.get();
    *out = entry.release();
    slot.store(*out, std::memory_order_release);
    return S_OK;
}

// The cached entry of an interface, loaded on first use.
HRESULT Entry(DispatchTypeInfoSlot& slot, REFIID iid, LCID lcid, DispatchTypeInfo** out) noexcept {
    if ((*out = slot.load(std::memory_order_acquire))) return S_OK;
    try {
        return LoadEntry(slot, iid, lcid, out);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace

HRESULT DispatchGetTypeInfo(DispatchTypeInfoSlot& slot, REFIID iid, LCID lcid, ITypeInfo** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    DispatchTypeInfo* entry = nullptr;
    RETURN_IF_FAILED(Entry(slot, iid, lcid, &entry));
    return entry->typeInfo.copy_to(out);
}

HRESULT DispatchGetIDsOfNames(DispatchTypeInfoSlot& slot, REFIID iid, REFIID riid, LPOLESTR* names,
                              UINT nameCount, LCID lcid, DISPID* ids) noexcept {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids) return E_POINTER;
    DispatchTypeInfo* entry = nullptr;
    RETURN_IF_FAILED(Entry(slot, iid, lcid, &entry));
    // Scripts nearly always spell a name as declared; the type information
    // (which ignores case) answers the rest and asks for parameter names.
    if (nameCount == 1 && names[0]) {
        for (const auto& [name, id] : entry->names) {
            if (std::wcscmp(name.c_str(), names[0]) == 0) {
                ids[0] = id;
                return S_OK;
            }
        }
    }
    return entry->typeInfo->GetIDsOfNames(names, nameCount, ids);
}

HRESULT DispatchInvoke(DispatchTypeInfoSlot& slot, REFIID iid, IUnknown* self, DISPID id, REFIID riid,
                       LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                       UINT* argError) noexcept {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    DispatchTypeInfo* entry = nullptr;
    RETURN_IF_FAILED(Entry(slot, iid, lcid, &entry));
    // A failed member is described from the thread's error information:
    // start without any, so that a failure that brings none of its own (out
    // of memory in a getter) is not described by an earlier, unread one.
    SetErrorInfo(0, nullptr);
    HRESULT hr = entry->typeInfo->Invoke(self, id, flags, params, result, exception, argError);
    // Some script engines call property getters as plain methods; serve them
    // as the getters they are.
    if (hr == DISP_E_MEMBERNOTFOUND && flags == DISPATCH_METHOD)
        hr = entry->typeInfo->Invoke(self, id, DISPATCH_PROPERTYGET, params, result, exception, argError);
    return hr;
}

void ReleaseDispatchTypeInfo() noexcept {
    ModuleCriticalSectionGuard guard;
    while (DispatchTypeInfo* entry = loadedEntries) {
        loadedEntries = entry->next;
        entry->slot->store(nullptr, std::memory_order_release);
        delete entry;
    }
}

}  // namespace qor
