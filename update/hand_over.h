// The text with which the dialog hands a package to the package procedure:
// the package's folder, "@" and the serial number of the instrument it
// identified. Made and read only here.
#pragma once

#include <optional>
#include <string>

namespace meterload {

// `directory` ends with its separator, or is empty.
std::string HandOverText(const std::string& directory, const std::string& serial);

// Everything after the first "@" that follows the folder (a second "@"
// included); nothing when there is none. The folder may hold "@" itself
// (C:\fw@lab\).
std::optional<std::string> SerialFromHandOver(const std::string& handOver);

}  // namespace meterload
