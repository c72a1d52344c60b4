#pragma once
// Reports an alarm of the support library (a file that cannot be created or
// written while the body is parsed) to the page script.
#include <windows.h>

namespace qor {

class XAlarm;

// Description: the alarm's category and message, then ": " and its detail
// when it has one ("File System: Unable to create file: C:\...\t1a2.tmp").
// Result code E_FAIL; what ReportError gives back is returned.
HRESULT ReportAlarm(const XAlarm& alarm) noexcept;

}  // namespace qor
