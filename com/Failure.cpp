#include "com/Failure.h"

namespace qor {

void RaiseFailure(HRESULT code) { throw AutomationFailure(code); }

}  // namespace qor
