#pragma once
// Moved to the COM base layer.
#include "com/ComHolders.h"
