// Installing every image of an update package in one run.
#pragma once

#include "update/update_context.h"
#include "update/update_outcome.h"

#include <optional>
#include <string>

namespace meterload {

// `serial` is the serial number of the instrument identified before, as the
// dialog's hand-over carried it (nothing when it carried none). Finished
// when every image was acknowledged; refusals before update mode are shown
// in message boxes.
ProcedureResult InstallPackage(UpdateContext& context, const std::string& packagePath,
                               const std::optional<std::string>& serial);

}  // namespace meterload
