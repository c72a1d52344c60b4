#include "upload/AlarmReport.h"

#include "automation/ReportError.h"
#include "support/XAlarm.h"

#include <new>
#include <string>

namespace qor {

HRESULT ReportAlarm(const XAlarm& alarm) noexcept {
    try {
        std::string description;
        if (alarm.Category()) description += alarm.Category();
        if (alarm.Message()) description += alarm.Message();
        if (alarm.Detail()) {
            description += ": ";
            description += alarm.Detail();
        }
        return ReportError(description.c_str(), E_FAIL, GUID_NULL);
    } catch (const std::bad_alloc&) {
        // The fixed message at least, when the joined text cannot be had.
        return ReportError(alarm.Message() ? alarm.Message() : "", E_FAIL, GUID_NULL);
    }
}

}  // namespace qor
