#pragma once
// Runs one compiled page as VBScript through the platform's script engine,
// with the named items Request, Response and Server. One runner per worker
// thread: it keeps that apartment's class object of the engine, and makes a
// new engine for every page (an engine keeps its globals across resets).
// A page's failure, the script's or the host's, comes back as a ScriptError;
// only running out of memory throws.
#include "hosts/pagehost/PageCompiler.h"
#include "hosts/pagehost/PageObjects.h"

#include <activscp.h>

#include <string>

namespace pagehost {

struct ScriptError {
    bool failed = false;
    HRESULT code = S_OK;
    std::wstring description;
    std::wstring source;
    int pageLine = 0;  // 1-based line in the .asp file; 0 when unknown
};

class PageRunner {
public:
    // Call on the worker thread after it has entered its apartment.
    HRESULT Init();
    // Runs the page to its end (or Response.End); the page's created objects
    // have had OnEndPage and are released when this returns.
    ScriptError Run(const CompiledPage& page, const SharedPage& state);

private:
    ComPtr<IClassFactory> engineFactory_;
};

// A description for script engine codes that arrive without one.
std::wstring DescribeScriptCode(HRESULT code);

}  // namespace pagehost
