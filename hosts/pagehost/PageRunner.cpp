#include "hosts/pagehost/PageRunner.h"

#include "hosts/pagehost/Text.h"
#include "com/Failure.h"
#include "hosts/HostDispatch.h"

#include <utility>

using namespace qor;

namespace pagehost {

namespace {

// The engine's view of the page: the named items and where errors go.
class ScriptSite final : public HostUnknown<IActiveScriptSite> {
public:
    ScriptSite(const SharedPage& page, const CompiledPage& compiled, ComPtr<IDispatch> request,
               ComPtr<IDispatch> response, ComPtr<IDispatch> server)
        : HostUnknown(IID_IActiveScriptSite), page_(page), compiled_(compiled), request_(std::move(request)), response_(std::move(response)),
          server_(std::move(server)) {}

    HRESULT WINAPI GetLCID(LCID*) override { return E_NOTIMPL; }
    HRESULT WINAPI GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info) override {
        if (info) *info = nullptr;
        if (item) *item = nullptr;
        if (!(mask & SCRIPTINFO_IUNKNOWN)) return mask & SCRIPTINFO_ITYPEINFO ? TYPE_E_ELEMENTNOTFOUND : S_OK;
        if (!item || !name) return E_POINTER;
        const ComPtr<IDispatch>* found = SameNameIgnoringCase(name, L"Request")    ? &request_
                                         : SameNameIgnoringCase(name, L"Response") ? &response_
                                         : SameNameIgnoringCase(name, L"Server")   ? &server_
                                                                                   : nullptr;
        if (!found) return TYPE_E_ELEMENTNOTFOUND;
        return found->copy_to(reinterpret_cast<IDispatch**>(item));
    }
    HRESULT WINAPI GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    HRESULT WINAPI OnStateChange(SCRIPTSTATE) override { return S_OK; }
    HRESULT WINAPI OnScriptError(IActiveScriptError* error) override {
        if (!error || page_->ended || error_.failed) return S_OK;  // Response.End unwinds as an error
        return qor::CallBoundary([&] {
            KeepError(*error);
            return S_OK;
        });
    }
    HRESULT WINAPI OnEnterScript() override { return S_OK; }
    HRESULT WINAPI OnLeaveScript() override { return S_OK; }

    const ScriptError& Error() const { return error_; }

private:
    // The first error of the script, described for the page's error answer.
    void KeepError(IActiveScriptError& error) {
        OwnedExcepInfo info;
        error.GetExceptionInfo(&info);
        if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
        error_.failed = true;
        error_.code = info.scode ? info.scode : static_cast<HRESULT>(info.wCode);
        if (info.bstrDescription && *info.bstrDescription) error_.description = info.bstrDescription;
        else error_.description = DescribeScriptCode(error_.code);
        error_.source = info.bstrSource && *info.bstrSource ? info.bstrSource : L"Microsoft VBScript runtime error";
        DWORD context = 0;
        ULONG line = 0;
        LONG column = 0;
        if (SUCCEEDED(error.GetSourcePosition(&context, &line, &column))) error_.pageLine = compiled_.PageLine(line);
    }

    SharedPage page_;
    const CompiledPage& compiled_;
    ComPtr<IDispatch> request_, response_, server_;
    ScriptError error_;
};

ScriptError HostFailure(HRESULT code, const wchar_t* what) {
    ScriptError error;
    error.failed = true;
    error.code = code;
    error.description = what;
    error.source = L"Page host";
    return error;
}

}  // namespace

std::wstring DescribeScriptCode(HRESULT code) {
    struct Entry { HRESULT code; const wchar_t* text; };
    static const Entry kTexts[] = {
        {static_cast<HRESULT>(0x800A0005), L"Invalid procedure call or argument"},
        {static_cast<HRESULT>(0x800A0006), L"Overflow"},
        {static_cast<HRESULT>(0x800A0009), L"Subscript out of range"},
        {static_cast<HRESULT>(0x800A000B), L"Division by zero"},
        {static_cast<HRESULT>(0x800A000D), L"Type mismatch"},
        {static_cast<HRESULT>(0x800A0035), L"File not found"},
        {static_cast<HRESULT>(0x800A01A8), L"Object required"},
        {static_cast<HRESULT>(0x800A01AD), L"ActiveX component can't create object"},
        {static_cast<HRESULT>(0x800A01B6), L"Object doesn't support this property or method"},
        {static_cast<HRESULT>(0x800A01C2), L"Wrong number of arguments or invalid property assignment"},
        {static_cast<HRESULT>(0x800A01F4), L"Variable is undefined"},
        {static_cast<HRESULT>(0x800A01F5), L"Illegal assignment"},
        {static_cast<HRESULT>(0x800A03E9), L"Out of memory"},
        {static_cast<HRESULT>(0x800A03EA), L"Syntax error"},
        {static_cast<HRESULT>(0x800A03EE), L"Expected ')'"},
        {static_cast<HRESULT>(0x800A0400), L"Expected statement"},
        {static_cast<HRESULT>(0x800A0401), L"Expected end of statement"},
        {static_cast<HRESULT>(0x800A0408), L"Invalid character"},
        {static_cast<HRESULT>(0x800A0409), L"Unterminated string constant"},
        {static_cast<HRESULT>(0x800A03F6), L"Expected 'End'"},
        {static_cast<HRESULT>(0x800A0411), L"Name redefined"},
        {DISP_E_DIVBYZERO, L"Division by zero"},
        {DISP_E_TYPEMISMATCH, L"Type mismatch"},
        {DISP_E_OVERFLOW, L"Overflow"},
        {DISP_E_UNKNOWNNAME, L"Object doesn't support this property or method"},
        {DISP_E_MEMBERNOTFOUND, L"Object doesn't support this property or method"},
        {DISP_E_BADPARAMCOUNT, L"Wrong number of arguments or invalid property assignment"},
        {E_NOTIMPL, L"Not implemented"},
    };
    for (const Entry& entry : kTexts)
        if (entry.code == code) return entry.text;
    wchar_t text[64];
    swprintf(text, 64, L"Script error 0x%08lX", static_cast<unsigned long>(code));
    return text;
}

HRESULT PageRunner::Init() {
    CLSID clsid;
    RETURN_IF_FAILED(CLSIDFromProgID(L"VBScript", &clsid));
    return CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, engineFactory_.put_void());
}

ScriptError PageRunner::Run(const CompiledPage& page, const SharedPage& state) {
    if (!engineFactory_) return HostFailure(E_UNEXPECTED, L"The VBScript engine is not available");
    ComPtr<IRequest> request = ComPtr<IRequest>::Attach(new RequestObject(state));
    ComPtr<IDispatch> response = ComPtr<IDispatch>::Attach(new ResponseObject(state));
    ComPtr<IUnknown> context = ComPtr<IUnknown>::Attach(new ScriptingContextObject(request));
    ComPtr<IDispatch> server = ComPtr<IDispatch>::Attach(new ServerObject(state, context));
    ComPtr<ScriptSite> site = ComPtr<ScriptSite>::Attach(
        new ScriptSite(state, page, ComPtr<IDispatch>(request.get()), response, server));

    ComPtr<IActiveScript> engine;
    ComPtr<IActiveScriptParse> parser;
    HRESULT hr = engineFactory_->CreateInstance(nullptr, IID_IActiveScript, engine.put_void());
    if (FAILED(hr)) return HostFailure(hr, L"Cannot create the VBScript engine");
    if (FAILED(hr = engine.query(parser, IID_IActiveScriptParse))) return HostFailure(hr, L"Cannot parse VBScript");
    if (FAILED(hr = engine->SetScriptSite(site.get()))) return HostFailure(hr, L"Cannot start the VBScript engine");
    if (FAILED(hr = parser->InitNew())) return HostFailure(hr, L"Cannot start the VBScript engine");
    for (const wchar_t* name : {L"Request", L"Response", L"Server"})
        if (FAILED(hr = engine->AddNamedItem(name, SCRIPTITEM_ISVISIBLE))) return HostFailure(hr, L"Cannot add the page objects");

    // The script holds the page's bytes: they are in the directive's code page.
    const std::wstring text = Widen(page.script, page.codePage ? page.codePage : CP_ACP);
    OwnedExcepInfo info;  // the site's OnScriptError has the details
    hr = parser->ParseScriptText(text.c_str(), nullptr, nullptr, nullptr, 0, 0, 0, nullptr, &info);
    if (SUCCEEDED(hr)) engine->SetScriptState(SCRIPTSTATE_CONNECTED);  // runs the page
    ScriptError error = site->Error();
    if (FAILED(hr) && !error.failed) error = HostFailure(hr, L"The page's script cannot be compiled");

    // The page is over: components hear OnEndPage, then every reference the
    // script and this host held goes, which deletes their temporary files.
    EndCreatedObjects(*state);
    engine->Close();
    parser.reset();
    engine.reset();
    return error;
}

}  // namespace pagehost
