#pragma once
// Reference counting, QueryInterface and by-name IDispatch for the objects a
// page script sees. Each object has one table of members (name, DISPID and
// the function that runs it); names are found without regard to case, as
// scripts expect. A member's failure comes back as its result code, as
// DISP_E_EXCEPTION with a description when the member gave one (Fail), and
// whatever a member throws ends at Invoke as its result code.
#include "com/ComHolders.h"
#include "com/Failure.h"
#include "com/VariantRef.h"
#include "hosts/HostDispatch.h"

#include <windows.h>
#include <oleauto.h>

#include <span>
#include <string>

namespace pagehost {

// The component's resource owners and failure idiom, unqualified.
using namespace qor;

// The arguments of one call in the order the script wrote them, with
// by-reference variants (script variables) followed to their targets.
class CallArgs {
public:
    explicit CallArgs(const DISPPARAMS* params) : params_(params) {}
    UINT Count() const { return params_ ? params_->cArgs : 0; }
    VARIANT* operator[](UINT i) const { return FollowReference(Raw(i)); }
    // The argument as it was passed (a by-reference variant stays one).
    VARIANT* Raw(UINT i) const { return &params_->rgvarg[params_->cArgs - 1 - i]; }

private:
    const DISPPARAMS* params_;
};

// One call of a member: how the script made it, its arguments, and where
// its value goes (initialised empty).
struct Invocation {
    WORD flags;
    const CallArgs& args;
    VARIANT* result;

    bool IsPut() const { return (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0; }
};

// A row of an object's member table.
template <typename Self>
struct ScriptMember {
    const wchar_t* name;
    DISPID id;
    HRESULT (Self::*run)(const Invocation& call);
};

// The text of an argument; Null and Empty are empty text.
HRESULT ArgText(const VARIANT* arg, std::wstring& out);
// A new BSTR result.
HRESULT ReturnText(VARIANT* result, std::wstring_view text);

// Self (the object's own class) has `static std::span<const ScriptMember<Self>> Members()`.
template <typename Interface, typename Self>
class ScriptObject : public HostDispatch<Interface> {
public:
    ScriptObject(const IID& iid, const wchar_t* source) : HostDispatch<Interface>(iid, IID_IDispatch), source_(source) {}

    HRESULT WINAPI GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!names || !ids) return E_POINTER;
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        if (count == 0) return S_OK;
        const ScriptMember<Self>* member = names[0] ? FindByName(names[0]) : nullptr;
        if (member) ids[0] = member->id;
        // Members take no named parameters.
        return member && count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
    HRESULT WINAPI Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO* exception, UINT*) override {
        const ScriptMember<Self>* member = FindById(id);
        if (!member) return DISP_E_MEMBERNOTFOUND;
        DISPPARAMS none{};
        const CallArgs args(params ? params : &none);
        UniqueVariant ignored;
        const Invocation call{flags, args, result ? result : ignored.get()};
        error_.clear();
        const HRESULT hr = qor::CallBoundary([&] { return (static_cast<Self*>(this)->*member->run)(call); });
        if (FAILED(hr) && !error_.empty()) return RaiseToScript(exception, hr, source_, error_);
        return hr;
    }

protected:
    // Gives a failure a description for the script's error.
    HRESULT Fail(HRESULT hr, std::wstring description) {
        error_ = std::move(description);
        return hr;
    }

private:
    static const ScriptMember<Self>* FindByName(const wchar_t* name) {
        for (const ScriptMember<Self>& member : Self::Members())
            if (SameNameIgnoringCase(member.name, name)) return &member;
        return nullptr;
    }
    static const ScriptMember<Self>* FindById(DISPID id) {
        for (const ScriptMember<Self>& member : Self::Members())
            if (member.id == id) return &member;
        return nullptr;
    }

    const wchar_t* source_;
    std::wstring error_;
};

}  // namespace pagehost
