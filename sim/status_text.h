// The descriptions viStatusDesc gives for the statuses the simulator returns.
#pragma once

#include "sim/visa_constants.h"

namespace zqsim {

// Null for a status the simulator does not know.
const char* StatusText(ViStatus status);

}  // namespace zqsim
