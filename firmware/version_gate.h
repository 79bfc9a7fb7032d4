// Whether an image may replace the firmware the instrument reports.
#pragma once

#include "firmware/image_header.h"

#include <string_view>

namespace meterload {

// `firmwareVersionField` is the text after the last comma of the instrument's
// identification reply. True when the image may be installed.
bool VersionGate(std::string_view firmwareVersionField, const ImageHeader& header);

}  // namespace meterload
