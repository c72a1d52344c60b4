#pragma once
// Reference counting, QueryInterface and by-name IDispatch for the objects a
// page script sees. Members are found by a table of names (without regard to
// case, as scripts expect) and dispatched to one virtual Call.
#include "ComHolders.h"
#include "hosts/HostUnknown.h"

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace pagehost {

struct MemberName {
    const wchar_t* name;
    DISPID id;
};

// The arguments of one call in the order the script wrote them, with
// by-reference variants (script variables) followed to their targets.
class CallArgs {
public:
    explicit CallArgs(const DISPPARAMS* params) : params_(params) {}
    UINT Count() const { return params_ ? params_->cArgs : 0; }
    VARIANT* operator[](UINT i) const {
        VARIANT* v = &params_->rgvarg[params_->cArgs - 1 - i];
        while (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) v = v->pvarVal;
        return v;
    }
    // The argument as it was passed (a by-reference variant stays one).
    VARIANT* Raw(UINT i) const { return &params_->rgvarg[params_->cArgs - 1 - i]; }

private:
    const DISPPARAMS* params_;
};

// The text of an argument; Null and Empty are empty text.
HRESULT ArgText(const VARIANT* arg, std::wstring& out);
// A new BSTR result.
HRESULT ReturnText(VARIANT* result, std::wstring_view text);

template <typename Interface>
class ScriptObject : public HostUnknown<Interface> {
public:
    ScriptObject(const IID& iid, const wchar_t* source) : HostUnknown<Interface>(iid, IID_IDispatch), source_(source) {}

    HRESULT WINAPI GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT WINAPI GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT WINAPI GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!names || !ids) return E_POINTER;
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        if (count == 0) return S_OK;
        ids[0] = Lookup(names[0]);
        if (ids[0] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
        if (count > 1) hr = DISP_E_UNKNOWNNAME;  // no named parameters
        return hr;
    }
    HRESULT WINAPI Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO* exception, UINT*) override {
        DISPPARAMS none{};
        CallArgs args(params ? params : &none);
        error_.clear();
        VARIANT ignored;
        VariantInit(&ignored);
        HRESULT hr;
        try {
            hr = Call(id, flags, args, result ? result : &ignored);
        } catch (...) {
            hr = E_OUTOFMEMORY;
        }
        VariantClear(&ignored);
        if (FAILED(hr) && !error_.empty()) {
            if (exception) {
                *exception = EXCEPINFO{};
                exception->bstrSource = SysAllocString(source_);
                exception->bstrDescription = SysAllocStringLen(error_.data(), static_cast<UINT>(error_.size()));
                exception->scode = hr;
            }
            return DISP_E_EXCEPTION;
        }
        return hr;
    }

protected:
    virtual const MemberName* Members(size_t& count) const = 0;
    // One call of a member; `result` is initialised empty. A failure may set
    // a description with Fail.
    virtual HRESULT Call(DISPID id, WORD flags, const CallArgs& args, VARIANT* result) = 0;

    HRESULT Fail(HRESULT hr, std::wstring description) {
        error_ = std::move(description);
        return hr;
    }

private:
    DISPID Lookup(const wchar_t* name) const {
        if (!name) return DISPID_UNKNOWN;
        size_t count = 0;
        const MemberName* members = Members(count);
        for (size_t i = 0; i < count; ++i)
            if (CompareStringOrdinal(members[i].name, -1, name, -1, TRUE) == CSTR_EQUAL) return members[i].id;
        return DISPID_UNKNOWN;
    }

    const wchar_t* source_;
    std::wstring error_;
};

}  // namespace pagehost
