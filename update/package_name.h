// Which chosen files the package update takes.
#pragma once

#include <string>

namespace meterload {

// True when the file name (without its directory) ends in ".pak", compared
// case-sensitively: "FW.PAK" is taken for a single image.
bool IsPackageName(const std::string& fileName);

}  // namespace meterload
