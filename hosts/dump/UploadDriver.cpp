#include "UploadDriver.h"

#include "ComHolders.h"
#include "Sha256.h"
#include "TestHost.h"

namespace {

constexpr WORD kGet = DISPATCH_METHOD | DISPATCH_PROPERTYGET;  // as script engines read members

VARIANT Position(LONG n) {
    VARIANT v;
    v.vt = VT_I4;  // a number is always a position, never a key
    v.lVal = n;
    return v;
}

HRESULT GetObject(IDispatch* object, const wchar_t* name, std::initializer_list<VARIANT> args, ComPtr<IDispatch>& out,
                  CallFailure& failure) {
    UniqueVariant value;
    HRESULT hr = CallByName(object, name, kGet, args, value.get(), failure);
    if (FAILED(hr)) return hr;
    if (value->vt != VT_DISPATCH || !value->pdispVal) {
        failure.code = DISP_E_TYPEMISMATCH;
        failure.description = std::wstring(name) + L" did not give an object";
        return failure.code;
    }
    out = ComPtr<IDispatch>(value->pdispVal);
    return S_OK;
}

HRESULT GetText(IDispatch* object, const wchar_t* name, std::initializer_list<VARIANT> args, std::wstring& out,
                CallFailure& failure) {
    UniqueVariant value;
    HRESULT hr = CallByName(object, name, kGet, args, value.get(), failure);
    if (FAILED(hr)) return hr;
    if (value->vt != VT_BSTR && FAILED(hr = VariantChangeType(value.get(), value.get(), 0, VT_BSTR))) {
        failure.code = hr;
        failure.description = std::wstring(name) + L" did not give text";
        return hr;
    }
    out.assign(value->bstrVal ? value->bstrVal : L"", SysStringLen(value->bstrVal));
    return S_OK;
}

HRESULT GetLong(IDispatch* object, const wchar_t* name, LONG& out, CallFailure& failure) {
    UniqueVariant value;
    HRESULT hr = CallByName(object, name, kGet, {}, value.get(), failure);
    if (FAILED(hr)) return hr;
    if (FAILED(hr = VariantChangeType(value.get(), value.get(), 0, VT_I4))) {
        failure.code = hr;
        failure.description = std::wstring(name) + L" did not give a number";
        return hr;
    }
    out = value->lVal;
    return S_OK;
}

std::wstring Text(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

// The failure of a put that Invoke reported: from the exception it filled in,
// else from the error information left on the thread.
void TakeFailure(HRESULT hr, EXCEPINFO& exception, CallFailure& failure) {
    if (hr == DISP_E_EXCEPTION) {
        if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
        UniqueBstr source(exception.bstrSource), description(exception.bstrDescription), help(exception.bstrHelpFile);
        failure.code = FAILED(exception.scode) ? exception.scode
                       : exception.wCode       ? MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, exception.wCode)
                                               : DISP_E_EXCEPTION;
        failure.hasErrorInfo = source.get() || description.get();
        failure.description = Text(description.get());
        failure.source = Text(source.get());
        return;
    }
    failure.code = hr;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info) return;
    UniqueBstr description, source;
    info->GetDescription(description.put());
    info->GetSource(source.put());
    failure.hasErrorInfo = true;
    failure.description = Text(description.get());
    failure.source = Text(source.get());
}

// An assignment as a script engine makes it: the member's DISPID by name, and
// the value as the one argument, named DISPID_PROPERTYPUT.
HRESULT PutLong(IDispatch* object, const wchar_t* name, LONG value, CallFailure& failure) {
    failure = CallFailure{};
    DISPID id = DISPID_UNKNOWN;
    auto* names = const_cast<LPOLESTR>(name);
    HRESULT hr = object->GetIDsOfNames(IID_NULL, &names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return failure.code = hr;
    VARIANT argument;
    argument.vt = VT_I4;
    argument.lVal = value;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&argument, &named, 1, 1};
    EXCEPINFO exception{};
    UINT argError = 0;
    SetErrorInfo(0, nullptr);  // what is found afterwards belongs to this put
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, &exception, &argError);
    if (FAILED(hr)) TakeFailure(hr, exception, failure);
    return failure.code;
}

void Record(const CallFailure& failure, DumpReport& report) {
    report.result = failure.code;
    if (failure.hasErrorInfo)
        report.error = ErrorReport{failure.description, failure.source};
    else
        report.error.reset();
}

HRESULT ReadForm(IDispatch* upload, DumpReport& report, CallFailure& failure) {
    ComPtr<IDispatch> form;
    HRESULT hr = GetObject(upload, L"Form", {}, form, failure);
    if (FAILED(hr)) return hr;
    // The dictionary's default member without an argument: the whole form.
    if (FAILED(hr = GetText(form.get(), L"Item", {}, report.formText, failure))) return hr;
    LONG count = 0;
    if (FAILED(hr = GetLong(form.get(), L"Count", count, failure))) return hr;
    for (LONG i = 1; i <= count; ++i) {
        FieldReport field;
        ComPtr<IDispatch> values;
        if (FAILED(hr = GetText(form.get(), L"Key", {Position(i)}, field.name, failure))) return hr;
        if (FAILED(hr = GetObject(form.get(), L"Item", {Position(i)}, values, failure))) return hr;
        LONG valueCount = 0;
        if (FAILED(hr = GetLong(values.get(), L"Count", valueCount, failure))) return hr;
        for (LONG j = 1; j <= valueCount; ++j) {
            std::wstring value;
            if (FAILED(hr = GetText(values.get(), L"Item", {Position(j)}, value, failure))) return hr;
            field.values.push_back(std::move(value));
        }
        report.form.push_back(std::move(field));
    }
    return S_OK;
}

HRESULT ReadFiles(IDispatch* upload, DumpReport& report, CallFailure& failure) {
    ComPtr<IDispatch> files;
    HRESULT hr = GetObject(upload, L"Files", {}, files, failure);
    if (FAILED(hr)) return hr;
    LONG count = 0;
    if (FAILED(hr = GetLong(files.get(), L"Count", count, failure))) return hr;
    for (LONG i = 1; i <= count; ++i) {
        FileReport file;
        ComPtr<IDispatch> info;
        if (FAILED(hr = GetText(files.get(), L"Key", {Position(i)}, file.field, failure))) return hr;
        if (FAILED(hr = GetObject(files.get(), L"Item", {Position(i)}, info, failure))) return hr;
        if (FAILED(hr = GetText(info.get(), L"UserPath", {}, file.userPath, failure))) return hr;
        if (FAILED(hr = GetText(info.get(), L"FileName", {}, file.fileName, failure))) return hr;
        if (FAILED(hr = GetText(info.get(), L"ContentType", {}, file.contentType, failure))) return hr;
        if (FAILED(hr = GetText(info.get(), L"TmpPath", {}, file.tmpPath, failure))) return hr;
        if (FAILED(hr = GetLong(info.get(), L"Size", file.size, failure))) return hr;
        std::string hex;
        if (SUCCEEDED(Sha256HexOfFile(file.tmpPath, hex))) file.sha256 = std::move(hex);
        report.files.push_back(std::move(file));
    }
    return S_OK;
}

}  // namespace

bool ApplySettings(IDispatch* upload, const std::vector<DumpSetting>& settings, DumpReport& report) {
    for (const DumpSetting& setting : settings) {
        CallFailure failure;
        if (FAILED(PutLong(upload, setting.property.c_str(), setting.value, failure))) {
            Record(failure, report);
            return false;
        }
    }
    return true;
}

bool RunRequests(IDispatch* upload, const std::vector<RequestData>& requests, DumpReport& report) {
    CallFailure failure;
    for (const RequestData& request : requests) {
        testhost::TestHost host;
        host.SetContentType(request.contentType);
        host.SetBody(request.body);
        // As a server's Request does, each BinaryRead goes on where the last
        // one stopped, so a component that reads in chunks gets the whole body.
        host.SetReadShape(testhost::ReadShape::Stream);
        ComPtr<IUnknown> context = host.NewScriptingContext();
        VARIANT argument;
        argument.vt = VT_UNKNOWN;  // as a page host passes the context
        argument.punkVal = context.get();
        if (FAILED(CallByName(upload, L"OnStartPage", DISPATCH_METHOD, {argument}, nullptr, failure))) {
            Record(failure, report);
            return false;
        }
        const HRESULT hr = CallByName(upload, L"ProcessPostData", DISPATCH_METHOD, {}, nullptr, failure);
        Record(failure, report);
        CallFailure ended;
        CallByName(upload, L"OnEndPage", DISPATCH_METHOD, {}, nullptr, ended);
        if (FAILED(hr)) return false;
    }
    return true;
}

HRESULT ReadResults(IDispatch* upload, DumpReport& report, CallFailure& failure) {
    try {
        HRESULT hr = ReadForm(upload, report, failure);
        if (FAILED(hr)) return hr;
        return ReadFiles(upload, report, failure);
    } catch (const std::bad_alloc&) {
        failure.code = E_OUTOFMEMORY;
        failure.description = L"out of memory";
        return E_OUTOFMEMORY;
    }
}
