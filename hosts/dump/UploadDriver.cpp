#include "hosts/dump/UploadDriver.h"

#include "com/ComHolders.h"
#include "com/Failure.h"
#include "hosts/dump/Sha256.h"
#include "hosts/testhost/TestHost.h"

using namespace qor;

namespace {

constexpr WORD kGet = DISPATCH_METHOD | DISPATCH_PROPERTYGET;  // as script engines read members

// A Long: as an argument of Item or Key it is always a position, never a key.
VARIANT Number(LONG n) {
    VARIANT v;
    v.vt = VT_I4;
    v.lVal = n;
    return v;
}

// A member gave a value that is not what the dump reads from it.
HRESULT WrongValue(CallFailure& failure, HRESULT code, const wchar_t* name, const wchar_t* expected) {
    failure.code = code;
    failure.description = std::wstring(name) + L" did not give " + expected;
    return code;
}

HRESULT GetObject(IDispatch* object, const wchar_t* name, std::initializer_list<VARIANT> args, ComPtr<IDispatch>& out,
                  CallFailure& failure) {
    UniqueVariant value;
    RETURN_IF_FAILED(CallByName(object, name, kGet, args, value.get(), failure));
    if (value->vt != VT_DISPATCH || !value->pdispVal) return WrongValue(failure, DISP_E_TYPEMISMATCH, name, L"an object");
    out = ComPtr<IDispatch>(value->pdispVal);
    return S_OK;
}

HRESULT GetText(IDispatch* object, const wchar_t* name, std::initializer_list<VARIANT> args, std::wstring& out,
                CallFailure& failure) {
    UniqueVariant value;
    RETURN_IF_FAILED(CallByName(object, name, kGet, args, value.get(), failure));
    if (value->vt != VT_BSTR) {
        const HRESULT hr = VariantChangeType(value.get(), value.get(), 0, VT_BSTR);
        if (FAILED(hr)) return WrongValue(failure, hr, name, L"text");
    }
    out.assign(value->bstrVal ? value->bstrVal : L"", SysStringLen(value->bstrVal));
    return S_OK;
}

HRESULT GetLong(IDispatch* object, const wchar_t* name, LONG& out, CallFailure& failure) {
    UniqueVariant value;
    RETURN_IF_FAILED(CallByName(object, name, kGet, {}, value.get(), failure));
    const HRESULT hr = VariantChangeType(value.get(), value.get(), 0, VT_I4);
    if (FAILED(hr)) return WrongValue(failure, hr, name, L"a number");
    out = value->lVal;
    return S_OK;
}

void Record(const CallFailure& failure, DumpReport& report) {
    report.result = failure.code;
    if (failure.hasErrorInfo)
        report.error = ErrorReport{failure.description, failure.source};
    else
        report.error.reset();
}

// The key and the object at a 1-based position of a collection.
HRESULT GetEntry(IDispatch* collection, LONG position, std::wstring& key, ComPtr<IDispatch>& item,
                 CallFailure& failure) {
    RETURN_IF_FAILED(GetText(collection, L"Key", {Number(position)}, key, failure));
    return GetObject(collection, L"Item", {Number(position)}, item, failure);
}

// The values of one form field, in order.
HRESULT ReadValues(IDispatch* values, std::vector<std::wstring>& out, CallFailure& failure) {
    LONG count = 0;
    RETURN_IF_FAILED(GetLong(values, L"Count", count, failure));
    for (LONG i = 1; i <= count; ++i) {
        std::wstring value;
        RETURN_IF_FAILED(GetText(values, L"Item", {Number(i)}, value, failure));
        out.push_back(std::move(value));
    }
    return S_OK;
}

// What a script reads of one uploaded file, and the hash of its temporary file.
HRESULT ReadFileInfo(IDispatch* info, FileReport& file, CallFailure& failure) {
    RETURN_IF_FAILED(GetText(info, L"UserPath", {}, file.userPath, failure));
    RETURN_IF_FAILED(GetText(info, L"FileName", {}, file.fileName, failure));
    RETURN_IF_FAILED(GetText(info, L"ContentType", {}, file.contentType, failure));
    RETURN_IF_FAILED(GetText(info, L"TmpPath", {}, file.tmpPath, failure));
    RETURN_IF_FAILED(GetLong(info, L"Size", file.size, failure));
    std::string hex;
    if (SUCCEEDED(Sha256HexOfFile(file.tmpPath, hex))) file.sha256 = std::move(hex);
    return S_OK;
}

HRESULT ReadForm(IDispatch* upload, DumpReport& report, CallFailure& failure) {
    ComPtr<IDispatch> form;
    RETURN_IF_FAILED(GetObject(upload, L"Form", {}, form, failure));
    // The dictionary's default member without an argument: the whole form.
    RETURN_IF_FAILED(GetText(form.get(), L"Item", {}, report.formText, failure));
    LONG count = 0;
    RETURN_IF_FAILED(GetLong(form.get(), L"Count", count, failure));
    for (LONG i = 1; i <= count; ++i) {
        FieldReport field;
        ComPtr<IDispatch> values;
        RETURN_IF_FAILED(GetEntry(form.get(), i, field.name, values, failure));
        RETURN_IF_FAILED(ReadValues(values.get(), field.values, failure));
        report.form.push_back(std::move(field));
    }
    return S_OK;
}

HRESULT ReadFiles(IDispatch* upload, DumpReport& report, CallFailure& failure) {
    ComPtr<IDispatch> files;
    RETURN_IF_FAILED(GetObject(upload, L"Files", {}, files, failure));
    LONG count = 0;
    RETURN_IF_FAILED(GetLong(files.get(), L"Count", count, failure));
    for (LONG i = 1; i <= count; ++i) {
        FileReport file;
        ComPtr<IDispatch> info;
        RETURN_IF_FAILED(GetEntry(files.get(), i, file.field, info, failure));
        RETURN_IF_FAILED(ReadFileInfo(info.get(), file, failure));
        report.files.push_back(std::move(file));
    }
    return S_OK;
}

}  // namespace

bool ApplySettings(IDispatch* upload, const std::vector<DumpSetting>& settings, DumpReport& report) {
    for (const DumpSetting& setting : settings) {
        CallFailure failure;
        if (FAILED(PutByName(upload, setting.property.c_str(), Number(setting.value), failure))) {
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
    bool threw = true;
    const HRESULT hr = qor::CallBoundary([&] {
        RETURN_IF_FAILED(ReadForm(upload, report, failure));
        const HRESULT read = ReadFiles(upload, report, failure);
        threw = false;
        return read;
    });
    if (threw && FAILED(hr)) {
        failure.code = hr;
        failure.description = hr == E_OUTOFMEMORY ? L"out of memory" : L"unexpected failure";
    }
    return hr;
}
