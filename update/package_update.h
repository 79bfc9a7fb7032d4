// Installing every image of an update package in one run.
#pragma once

#include "update/update_context.h"

#include <string>

namespace meterload {

// `handOver` is the package's directory, "@" and the serial number of the
// instrument identified before. 0 when every image was acknowledged, 1
// otherwise; refusals before update mode are shown in message boxes.
int InstallPackage(UpdateContext& context, const std::string& packagePath,
                   const std::string& handOver);

}  // namespace meterload
