#pragma once
// Drives one upload component through IDispatch by name, as a page host and a
// page script do, and collects what a script sees. A call's failure ends the
// step and goes into the report (or `failure`) with its code and description;
// only running out of memory throws, and never from ReadResults.
#include "hosts/dump/DumpArguments.h"
#include "hosts/dump/DumpReport.h"
#include "hosts/dispatch/NamedCall.h"

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

struct RequestData {
    std::wstring contentType;
    std::string body;
};

// Puts each setting into its property by name, in order, as a page's
// assignments do. A refused put ends the settings; its code and error
// information go into the report. Returns true when every put succeeded.
bool ApplySettings(IDispatch* upload, const std::vector<DumpSetting>& settings, DumpReport& report);

// Each request is one page: OnStartPage with a new scripting context that
// serves it, ProcessPostData, OnEndPage. A failing call ends the sequence; its
// code and error information go into the report. Returns true when every
// call succeeded.
bool RunRequests(IDispatch* upload, const std::vector<RequestData>& requests, DumpReport& report);

// Reads Form (names by position with Key, values by position) and Files
// (field, UserPath, FileName, ContentType, TmpPath, Size, and the SHA-256 of
// the temporary file).
// A failing read returns its code and describes it in `failure`.
HRESULT ReadResults(IDispatch* upload, DumpReport& report, CallFailure& failure);
