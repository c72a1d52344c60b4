#include "automation/ReportError.h"

#include "com/ComHolders.h"
#include "automation/ThreadCodePage.h"
#include "uploadLib.h"

#include <memory>
#include <string>

namespace qor {

namespace {

// Best effort: a failure here leaves the thread's error information as it was
// (or without a source) and does not change what the method returns.
void InstallErrorInfo(const wchar_t* description, REFIID iid) {
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.put()))) return;
    create->SetGUID(iid);

    // The source is the versioned ProgID that registration wrote for the class.
    UniqueCoTaskString progId;
    if (SUCCEEDED(ProgIDFromCLSID(CLSID_CQORUpload, progId.put())) && progId) create->SetSource(progId.get());

    create->SetDescription(const_cast<LPOLESTR>(description));

    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.query(info, IID_IErrorInfo))) SetErrorInfo(0, info.get());
}

}  // namespace

HRESULT ReportError(const char* description, HRESULT result, REFIID iid) noexcept {
    if (!description) return E_POINTER;

    std::wstring text;
    if (FAILED(WideFromAnsi(ThreadAnsiCodePage(), description, text))) return E_OUTOFMEMORY;

    InstallErrorInfo(text.c_str(), iid);
    // A report always ends the method with a failure, never with success.
    return FAILED(result) ? result : DISP_E_EXCEPTION;
}

HRESULT ReportErrorW(const wchar_t* description, HRESULT result, REFIID iid) noexcept {
    if (!description) return E_POINTER;
    InstallErrorInfo(description, iid);
    return FAILED(result) ? result : DISP_E_EXCEPTION;
}

}  // namespace qor
