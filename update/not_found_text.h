// What every front end says when the search finds no ZQ6140 to update.
#pragma once

namespace meterload {

inline constexpr const char* kDeviceNotFoundText = "ZQ6140 device not found.";

}  // namespace meterload
