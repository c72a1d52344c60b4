#include "ScriptablePageHost.h"
#include "com/Failure.h"

#include <cstdio>
#include <iterator>
#include <memory>
#include <new>
#include <string>

namespace scripthost {
namespace {

using testhost::HostStep;
using testhost::ReadShape;

enum Member : DISPID {
    SetContentType = 1,
    SetBody,
    SetBodyFromFile,
    SetTotalBytes,
    FailStep,
    SetReadShape,
    Start,
    End,
    NewContext,
    LiveObjects,
    Calls,
};

struct MemberInfo {
    const wchar_t* name;
    Member id;
    UINT minArgs, maxArgs;
};

constexpr MemberInfo kMembers[] = {
    {L"SetContentType", SetContentType, 0, 1}, {L"SetBody", SetBody, 1, 2},
    {L"SetBodyFromFile", SetBodyFromFile, 1, 1}, {L"SetTotalBytes", SetTotalBytes, 1, 1},
    {L"FailStep", FailStep, 2, 2},           {L"SetReadShape", SetReadShape, 1, 2},
    {L"Start", Start, 1, 1},                 {L"End", End, 1, 1},
    {L"NewContext", NewContext, 0, 0},       {L"LiveObjects", LiveObjects, 0, 0},
    {L"Calls", Calls, 1, 1},
};

constexpr const wchar_t* kStepNames[] = {L"QueryScriptingContext", L"GetRequest", L"GetServerVariables",
                                         L"GetItem", L"GetTotalBytes", L"BinaryRead"};
static_assert(std::size(kStepNames) == testhost::kHostStepCount);

constexpr struct {
    const wchar_t* name;
    ReadShape shape;
} kShapes[] = {
    {L"ByteArray", ReadShape::ByteArray},           {L"ShortByteArray", ReadShape::ShortByteArray},
    {L"ByteArrayByRef", ReadShape::ByteArrayByRef}, {L"NonByteArray", ReadShape::NonByteArray},
    {L"NotAnArray", ReadShape::NotAnArray},         {L"EmptyAfterFirst", ReadShape::EmptyAfterFirst},
    {L"Stream", ReadShape::Stream},
};

// Script names are not case-sensitive.
bool SameName(const wchar_t* a, const wchar_t* b) { return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL; }

const MemberInfo* FindMember(DISPID id) {
    for (const MemberInfo& member : kMembers)
        if (member.id == id) return &member;
    return nullptr;
}

HRESULT Fail(CallFailure& failure, HRESULT code, std::wstring description) {
    failure.code = code;
    failure.hasErrorInfo = true;
    failure.description = std::move(description);
    failure.source = kProgId;
    return code;
}

bool IsMissing(const VARIANT& v) { return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND; }

HRESULT ToText(const VARIANT& value, std::wstring& text) {
    UniqueVariant converted;
    RETURN_IF_FAILED(VariantChangeType(converted.get(), const_cast<VARIANT*>(&value), 0, VT_BSTR));
    text.assign(converted->bstrVal ? converted->bstrVal : L"", SysStringLen(converted->bstrVal));
    return S_OK;
}

HRESULT ToLong(const VARIANT& value, LONG& number) {
    UniqueVariant converted;
    HRESULT hr = VariantChangeType(converted.get(), const_cast<VARIANT*>(&value), 0, VT_I4);
    if (SUCCEEDED(hr)) number = converted->lVal;
    return hr;
}

// A result code as VBScript writes it (&H80004005, a negative Long) or as
// JScript does (0x80004005, a positive number beyond the Long range).
HRESULT ToResultCode(const VARIANT& value, HRESULT& code) {
    UniqueVariant converted;
    RETURN_IF_FAILED(VariantChangeType(converted.get(), const_cast<VARIANT*>(&value), 0, VT_I8));
    const LONGLONG number = converted->llVal;
    if (number < INT32_MIN || number > static_cast<LONGLONG>(UINT32_MAX)) return DISP_E_OVERFLOW;
    code = static_cast<HRESULT>(static_cast<ULONG>(number));
    return S_OK;
}

HRESULT FindStep(const std::wstring& name, HostStep& step) {
    for (size_t i = 0; i < std::size(kStepNames); ++i) {
        if (SameName(name.c_str(), kStepNames[i])) {
            step = static_cast<HostStep>(i);
            return S_OK;
        }
    }
    return E_INVALIDARG;
}

HRESULT ReadWholeFile(const std::wstring& path, std::string& bytes) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(_wfopen(path.c_str(), L"rb"), fclose);
    if (!file) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    char block[65536];
    size_t got = 0;
    bytes.clear();
    while ((got = fread(block, 1, sizeof block, file.get())) > 0) bytes.append(block, got);
    return ferror(file.get()) ? HRESULT_FROM_WIN32(ERROR_READ_FAULT) : S_OK;
}

// Text to body bytes in the given code page; characters it lacks become its
// default character.
HRESULT Encode(const std::wstring& text, UINT codePage, std::string& bytes) {
    bytes.clear();
    if (text.empty()) return S_OK;
    const int length = static_cast<int>(text.size());
    const int needed = WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return HRESULT_FROM_WIN32(GetLastError());
    bytes.resize(static_cast<size_t>(needed));
    if (WideCharToMultiByte(codePage, 0, text.data(), length, bytes.data(), needed, nullptr, nullptr) != needed)
        return HRESULT_FROM_WIN32(GetLastError());
    return S_OK;
}

void SetLong(VARIANT* result, LONG value) {
    if (!result) return;
    result->vt = VT_I4;
    result->lVal = value;
}

}  // namespace

HRESULT ScriptablePageHost::Create(REFIID iid, void** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto* host = new (std::nothrow) ScriptablePageHost;
    if (!host) return E_OUTOFMEMORY;
    host->AddRef();
    const HRESULT hr = host->QueryInterface(iid, out);
    host->Release();
    return hr;
}

HRESULT ScriptablePageHost::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch)) return E_NOINTERFACE;
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
}

// Objects live in the apartment of the script that created them.
ULONG ScriptablePageHost::AddRef() { return static_cast<ULONG>(++refs_); }

ULONG ScriptablePageHost::Release() {
    const LONG refs = --refs_;
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
}

HRESULT ScriptablePageHost::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT ScriptablePageHost::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
}

HRESULT ScriptablePageHost::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids) return E_POINTER;
    if (count == 0) return S_OK;
    // Members have no named parameters.
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    for (const MemberInfo& member : kMembers) {
        if (names[0] && SameName(names[0], member.name)) {
            ids[0] = member.id;
            return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
        }
    }
    return DISP_E_UNKNOWNNAME;
}

HRESULT ScriptablePageHost::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argError) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!params) return E_POINTER;
    const MemberInfo* member = FindMember(id);
    if (!member || !(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
    if (params->cNamedArgs > 0) return DISP_E_NONAMEDARGS;
    if (params->cArgs < member->minArgs || params->cArgs > member->maxArgs) return DISP_E_BADPARAMCOUNT;
    if (result) VariantInit(result);

    CallFailure failure;
    HRESULT hr = S_OK;
    try {
        Arguments args(params->cArgs);
        for (UINT i = 0; i < params->cArgs; ++i) {
            // Script variables arrive by reference.
            hr = VariantCopyInd(args[i].get(), &params->rgvarg[params->cArgs - 1 - i]);
            if (FAILED(hr)) {
                if (argError) *argError = params->cArgs - 1 - i;
                return hr;
            }
        }
        hr = Call(id, args, result, failure);
    } catch (const std::bad_alloc&) {
        hr = Fail(failure, E_OUTOFMEMORY, L"Out of memory");
    }
    if (SUCCEEDED(hr)) return hr;
    if (result) VariantClear(result);
    if (!failure.hasErrorInfo || !exception) return hr;
    *exception = EXCEPINFO{};
    exception->scode = hr;
    exception->bstrSource = SysAllocStringLen(failure.source.data(), static_cast<UINT>(failure.source.size()));
    exception->bstrDescription =
        SysAllocStringLen(failure.description.data(), static_cast<UINT>(failure.description.size()));
    return DISP_E_EXCEPTION;
}

HRESULT ScriptablePageHost::Call(DISPID id, Arguments& args, VARIANT* result, CallFailure& failure) {
    auto arg = [&args](size_t i) -> const VARIANT& { return *args[i].get(); };
    auto given = [&](size_t i) { return i < args.size() && !IsMissing(arg(i)); };
    HRESULT hr = S_OK;
    std::wstring text;
    LONG number = 0;
    switch (static_cast<Member>(id)) {
    case SetContentType: {
        // Omitted: no content type at all. Any other value is served as given.
        UniqueVariant value;
        if (given(0) && FAILED(hr = VariantCopy(value.get(), args[0].get()))) return hr;
        return host_.SetContentTypeVariant(*value.get());
    }
    case SetBody: {
        if (FAILED(hr = ToText(arg(0), text))) return Fail(failure, hr, L"SetBody needs text");
        LONG codePage = CP_ACP;
        if (given(1) && FAILED(hr = ToLong(arg(1), codePage))) return Fail(failure, hr, L"SetBody needs a code page number");
        std::string bytes;
        if (FAILED(hr = Encode(text, static_cast<UINT>(codePage), bytes)))
            return Fail(failure, hr, L"Can't encode the body in code page " + std::to_wstring(codePage));
        host_.SetBody(bytes);
        return S_OK;
    }
    case SetBodyFromFile: {
        if (FAILED(hr = ToText(arg(0), text))) return Fail(failure, hr, L"SetBodyFromFile needs a path");
        std::string bytes;
        if (FAILED(hr = ReadWholeFile(text, bytes))) return Fail(failure, hr, L"Can't read the body file " + text);
        host_.SetBody(bytes);
        return S_OK;
    }
    case SetTotalBytes:
        if (FAILED(hr = ToLong(arg(0), number))) return Fail(failure, hr, L"SetTotalBytes needs a number");
        host_.SetTotalBytes(number);
        return S_OK;
    case FailStep: {
        HostStep step{};
        HRESULT code = S_OK;
        if (FAILED(ToText(arg(0), text)) || FAILED(FindStep(text, step)))
            return Fail(failure, E_INVALIDARG, L"FailStep: unknown host step");
        if (FAILED(hr = ToResultCode(arg(1), code))) return Fail(failure, hr, L"FailStep needs a result code");
        host_.SetStepResult(step, code);
        return S_OK;
    }
    case SetReadShape: {
        LONG shortLength = 0;
        if (given(1) && FAILED(hr = ToLong(arg(1), shortLength)))
            return Fail(failure, hr, L"SetReadShape needs a length");
        if (SUCCEEDED(ToText(arg(0), text))) {
            for (const auto& [name, shape] : kShapes) {
                if (SameName(text.c_str(), name)) {
                    host_.SetReadShape(shape, static_cast<ULONG>(shortLength));
                    return S_OK;
                }
            }
        }
        return Fail(failure, E_INVALIDARG, L"SetReadShape: unknown shape");
    }
    case Start:
        return CallPageMethod(arg(0), L"OnStartPage", true, failure);
    case End:
        return CallPageMethod(arg(0), L"OnEndPage", false, failure);
    case NewContext: {
        ComPtr<IDispatch> context;
        RETURN_IF_FAILED(host_.NewScriptingContext().query(context, IID_IDispatch));
        if (result) {
            result->vt = VT_DISPATCH;
            result->pdispVal = context.detach();
        }
        return S_OK;
    }
    case LiveObjects:
        SetLong(result, host_.LiveObjects());
        return S_OK;
    case Calls: {
        HostStep step{};
        if (FAILED(ToText(arg(0), text)) || FAILED(FindStep(text, step)))
            return Fail(failure, E_INVALIDARG, L"Calls: unknown host step");
        SetLong(result, host_.Calls(step));
        return S_OK;
    }
    }
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT ScriptablePageHost::CallPageMethod(const VARIANT& component, const wchar_t* name, bool withContext,
                                           CallFailure& failure) {
    ComPtr<IDispatch> target;
    IUnknown* object = component.vt == VT_DISPATCH || component.vt == VT_UNKNOWN ? component.punkVal : nullptr;
    if (!object || FAILED(object->QueryInterface(IID_IDispatch, target.put_void())))
        return Fail(failure, E_INVALIDARG, std::wstring(name) + L": the argument is not a component object");
    if (!withContext) return CallByName(target.get(), name, DISPATCH_METHOD, {}, nullptr, failure);

    // The scripting context goes in as a page host passes it: VT_UNKNOWN.
    ComPtr<IUnknown> context = host_.NewScriptingContext();
    VARIANT argument;
    argument.vt = VT_UNKNOWN;
    argument.punkVal = context.get();
    return CallByName(target.get(), name, DISPATCH_METHOD, {argument}, nullptr, failure);
}

}  // namespace scripthost
