#include "automation/AutomationFailure.h"

namespace qor {

void RaiseFailure(HRESULT code) { throw AutomationFailure(code); }

}  // namespace qor
