// The descriptions viStatusDesc gives for the statuses the simulator returns.
#pragma once

#include "visa_surface/visa_constants.h"

namespace visa_surface {

// Null for a status the simulator does not know.
const char* StatusText(ViStatus status);

}  // namespace visa_surface
