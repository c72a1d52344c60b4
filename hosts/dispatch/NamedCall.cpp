#include "hosts/dispatch/NamedCall.h"

#include "com/ComHolders.h"
#include "com/Failure.h"

#include <algorithm>
#include <vector>

using namespace qor;

namespace {

std::wstring Text(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

// Takes over what an EXCEPINFO that Invoke filled says.
void TakeException(OwnedExcepInfo& exception, CallFailure& failure) {
    if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
    // An exception carries either a result code or a 16-bit error number.
    if (FAILED(exception.scode))
        failure.code = exception.scode;
    else if (exception.wCode)
        failure.code = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, exception.wCode);
    else
        failure.code = DISP_E_EXCEPTION;
    failure.hasErrorInfo = exception.bstrSource || exception.bstrDescription;
    failure.description = Text(exception.bstrDescription);
    failure.source = Text(exception.bstrSource);
}

// Picks up error information that the object left on the thread.
void TakeThreadErrorInfo(CallFailure& failure) {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info) return;
    UniqueBstr description, source;
    info->GetDescription(description.put());
    info->GetSource(source.put());
    failure.hasErrorInfo = true;
    failure.description = Text(description.get());
    failure.source = Text(source.get());
}

// GetIDsOfNames, then Invoke with the arguments (in natural order) and the
// named ones given, collecting a failure's description.
HRESULT Call(IDispatch* object, const wchar_t* name, WORD flags, std::initializer_list<VARIANT> args,
             std::initializer_list<DISPID> named, VARIANT* result, CallFailure& failure) {
    DISPID id = DISPID_UNKNOWN;
    auto* names = const_cast<LPOLESTR>(name);
    HRESULT hr = object->GetIDsOfNames(IID_NULL, &names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return failure.code = hr;

    std::vector<VARIANT> reversed(args.size());  // DISPPARAMS lists arguments last to first
    std::copy(args.begin(), args.end(), reversed.rbegin());
    std::vector<DISPID> namedIds(named);
    DISPPARAMS params{reversed.data(), namedIds.empty() ? nullptr : namedIds.data(), static_cast<UINT>(reversed.size()),
                      static_cast<UINT>(namedIds.size())};
    OwnedExcepInfo exception;
    UINT argError = 0;
    SetErrorInfo(0, nullptr);  // what is found afterwards belongs to this call
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &exception, &argError);
    if (hr == DISP_E_EXCEPTION) {
        TakeException(exception, failure);
        return failure.code;
    }
    if (FAILED(hr)) {
        failure.code = hr;
        TakeThreadErrorInfo(failure);
    }
    return hr;
}

HRESULT CallAtBoundary(IDispatch* object, const wchar_t* name, WORD flags, std::initializer_list<VARIANT> args,
                       std::initializer_list<DISPID> named, VARIANT* result, CallFailure& failure) noexcept {
    failure = CallFailure{};
    if (!object || !name) return failure.code = E_POINTER;
    const HRESULT hr = qor::CallBoundary([&] { return Call(object, name, flags, args, named, result, failure); });
    if (FAILED(hr)) failure.code = hr;
    return hr;
}

}  // namespace

HRESULT CallByName(IDispatch* object, const wchar_t* name, WORD flags, std::initializer_list<VARIANT> args,
                   VARIANT* result, CallFailure& failure) noexcept {
    return CallAtBoundary(object, name, flags, args, {}, result, failure);
}

HRESULT PutByName(IDispatch* object, const wchar_t* name, const VARIANT& value, CallFailure& failure) noexcept {
    return CallAtBoundary(object, name, DISPATCH_PROPERTYPUT, {value}, {DISPID_PROPERTYPUT}, nullptr, failure);
}
