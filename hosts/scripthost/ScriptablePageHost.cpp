#include "hosts/scripthost/ScriptablePageHost.h"
#include "com/Failure.h"
#include "hosts/HostFiles.h"

#include <cstdio>
#include <iterator>
#include <memory>
#include <new>
#include <string>

using namespace qor;

namespace scripthost {
namespace {

using testhost::HostStep;
using testhost::ReadShape;

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


// Describes a failure for the script and returns its code.
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
        if (SameNameIgnoringCase(name.c_str(), kStepNames[i])) {
            step = static_cast<HostStep>(i);
            return S_OK;
        }
    }
    return E_INVALIDARG;
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

// The host step a script names, or a failure that says `what` needs one.
HRESULT StepArgument(const VARIANT& value, HostStep& step) {
    std::wstring text;
    if (FAILED(ToText(value, text)) || FAILED(FindStep(text, step))) return E_INVALIDARG;
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
    const HRESULT hr = host->QueryInterface(iid, out);
    host->Release();  // the creator's reference
    return hr;
}

std::span<const ScriptablePageHost::Member> ScriptablePageHost::Members() {
    static const Member kMembers[] = {
        {L"SetContentType", 1, 0, 1, &ScriptablePageHost::SetContentType},
        {L"SetBody", 2, 1, 2, &ScriptablePageHost::SetBody},
        {L"SetBodyFromFile", 3, 1, 1, &ScriptablePageHost::SetBodyFromFile},
        {L"SetTotalBytes", 4, 1, 1, &ScriptablePageHost::SetTotalBytes},
        {L"FailStep", 5, 2, 2, &ScriptablePageHost::FailStep},
        {L"SetReadShape", 6, 1, 2, &ScriptablePageHost::SetReadShape},
        {L"Start", 7, 1, 1, &ScriptablePageHost::Start},
        {L"End", 8, 1, 1, &ScriptablePageHost::End},
        {L"NewContext", 9, 0, 0, &ScriptablePageHost::NewContext},
        {L"LiveObjects", 10, 0, 0, &ScriptablePageHost::LiveObjects},
        {L"Calls", 11, 1, 1, &ScriptablePageHost::Calls},
        {L"SetReadDelay", 12, 1, 1, &ScriptablePageHost::SetReadDelay},
        {L"Pause", 13, 1, 1, &ScriptablePageHost::Pause},
    };
    return kMembers;
}

const ScriptablePageHost::Member* ScriptablePageHost::FindMember(DISPID id) {
    for (const Member& member : Members())
        if (member.id == id) return &member;
    return nullptr;
}

bool ScriptablePageHost::MemberCall::Given(size_t i) const { return i < args.size() && !IsMissing(Arg(i)); }

HRESULT ScriptablePageHost::MemberCall::Fail(HRESULT code, std::wstring description) const {
    return scripthost::Fail(failure, code, std::move(description));
}

// There is no type information to hand out, at any index.
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
    for (const Member& member : Members()) {
        if (names[0] && SameNameIgnoringCase(names[0], member.name)) {
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
    const Member* member = FindMember(id);
    if (!member || !(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
    if (params->cNamedArgs > 0) return DISP_E_NONAMEDARGS;
    if (params->cArgs < member->minArgs || params->cArgs > member->maxArgs) return DISP_E_BADPARAMCOUNT;
    if (result) VariantInit(result);

    CallFailure failure;
    bool threw = true;
    const HRESULT hr = qor::CallBoundary([&] {
        const HRESULT ran = Run(*member, *params, result, failure, argError);
        threw = false;
        return ran;
    });
    if (SUCCEEDED(hr)) return hr;
    if (result) VariantClear(result);
    if (threw) Fail(failure, hr, hr == E_OUTOFMEMORY ? L"Out of memory" : L"Unexpected failure");
    if (!failure.hasErrorInfo || !exception) return hr;
    return RaiseToScript(exception, hr, failure.source, failure.description);
}

// Copies the arguments (script variables arrive by reference) and runs the member.
HRESULT ScriptablePageHost::Run(const Member& member, const DISPPARAMS& params, VARIANT* result, CallFailure& failure,
                                UINT* argError) {
    MemberCall call{std::vector<UniqueVariant>(params.cArgs), result, failure};
    for (UINT i = 0; i < params.cArgs; ++i) {
        const UINT position = params.cArgs - 1 - i;
        const HRESULT hr = VariantCopyInd(call.args[i].get(), &params.rgvarg[position]);
        if (FAILED(hr)) {
            if (argError) *argError = position;
            return hr;
        }
    }
    return (this->*member.run)(call);
}

// Left out: no content type at all. Any other value is served as given.
HRESULT ScriptablePageHost::SetContentType(const MemberCall& call) {
    UniqueVariant value;
    if (call.Given(0)) RETURN_IF_FAILED(VariantCopy(value.get(), const_cast<VARIANT*>(&call.Arg(0))));
    return host_.SetContentTypeVariant(*value.get());
}

HRESULT ScriptablePageHost::SetBody(const MemberCall& call) {
    std::wstring text;
    HRESULT hr = ToText(call.Arg(0), text);
    if (FAILED(hr)) return call.Fail(hr, L"SetBody needs text");
    LONG codePage = CP_ACP;
    if (call.Given(1) && FAILED(hr = ToLong(call.Arg(1), codePage))) return call.Fail(hr, L"SetBody needs a code page number");
    std::string bytes;
    if (FAILED(hr = Encode(text, static_cast<UINT>(codePage), bytes)))
        return call.Fail(hr, L"Can't encode the body in code page " + std::to_wstring(codePage));
    host_.SetBody(bytes);
    return S_OK;
}

HRESULT ScriptablePageHost::SetBodyFromFile(const MemberCall& call) {
    std::wstring path;
    HRESULT hr = ToText(call.Arg(0), path);
    if (FAILED(hr)) return call.Fail(hr, L"SetBodyFromFile needs a path");
    std::string bytes;
    if (FAILED(hr = ReadWholeFile(path, bytes))) return call.Fail(hr, L"Can't read the body file " + path);
    host_.SetBody(bytes);
    return S_OK;
}

HRESULT ScriptablePageHost::SetTotalBytes(const MemberCall& call) {
    LONG number = 0;
    const HRESULT hr = ToLong(call.Arg(0), number);
    if (FAILED(hr)) return call.Fail(hr, L"SetTotalBytes needs a number");
    host_.SetTotalBytes(number);
    return S_OK;
}

HRESULT ScriptablePageHost::SetReadDelay(const MemberCall& call) {
    LONG milliseconds = 0;
    const HRESULT hr = ToLong(call.Arg(0), milliseconds);
    if (FAILED(hr) || milliseconds < 0) return call.Fail(FAILED(hr) ? hr : E_INVALIDARG, L"SetReadDelay needs milliseconds");
    host_.SetReadDelay(static_cast<DWORD>(milliseconds));
    return S_OK;
}

// Waits, for scripts whose host has no WScript.Sleep (Wine's cscript).
HRESULT ScriptablePageHost::Pause(const MemberCall& call) {
    LONG milliseconds = 0;
    const HRESULT hr = ToLong(call.Arg(0), milliseconds);
    if (FAILED(hr) || milliseconds < 0) return call.Fail(FAILED(hr) ? hr : E_INVALIDARG, L"Pause needs milliseconds");
    Sleep(static_cast<DWORD>(milliseconds));
    return S_OK;
}

HRESULT ScriptablePageHost::FailStep(const MemberCall& call) {
    HostStep step{};
    if (FAILED(StepArgument(call.Arg(0), step))) return call.Fail(E_INVALIDARG, L"FailStep: unknown host step");
    HRESULT code = S_OK;
    const HRESULT hr = ToResultCode(call.Arg(1), code);
    if (FAILED(hr)) return call.Fail(hr, L"FailStep needs a result code");
    host_.SetStepResult(step, code);
    return S_OK;
}

HRESULT ScriptablePageHost::SetReadShape(const MemberCall& call) {
    LONG shortLength = 0;
    const HRESULT hr = call.Given(1) ? ToLong(call.Arg(1), shortLength) : S_OK;
    if (FAILED(hr)) return call.Fail(hr, L"SetReadShape needs a length");
    std::wstring text;
    if (SUCCEEDED(ToText(call.Arg(0), text))) {
        for (const auto& [name, shape] : kShapes) {
            if (SameNameIgnoringCase(text.c_str(), name)) {
                host_.SetReadShape(shape, static_cast<ULONG>(shortLength));
                return S_OK;
            }
        }
    }
    return call.Fail(E_INVALIDARG, L"SetReadShape: unknown shape");
}

HRESULT ScriptablePageHost::Start(const MemberCall& call) {
    return CallPageMethod(call.Arg(0), L"OnStartPage", true, call.failure);
}

HRESULT ScriptablePageHost::End(const MemberCall& call) {
    return CallPageMethod(call.Arg(0), L"OnEndPage", false, call.failure);
}

HRESULT ScriptablePageHost::NewContext(const MemberCall& call) {
    ComPtr<IDispatch> context;
    RETURN_IF_FAILED(host_.NewScriptingContext().query(context, IID_IDispatch));
    if (call.result) {
        call.result->vt = VT_DISPATCH;
        call.result->pdispVal = context.detach();
    }
    return S_OK;
}

HRESULT ScriptablePageHost::LiveObjects(const MemberCall& call) {
    SetLong(call.result, host_.LiveObjects());
    return S_OK;
}

HRESULT ScriptablePageHost::Calls(const MemberCall& call) {
    HostStep step{};
    if (FAILED(StepArgument(call.Arg(0), step))) return call.Fail(E_INVALIDARG, L"Calls: unknown host step");
    SetLong(call.result, host_.Calls(step));
    return S_OK;
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
