// A whole-package check run before the instrument is switched into update
// mode: every entry must lie inside the file, so that nothing is ever sent
// that was not read from it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace meterload {

class File;

// Nothing when the package is sound; otherwise the text of the message box
// that refuses it: a line saying the package is damaged, then one naming what
// is wrong. Reads only the header and the table, never the images.
std::optional<std::string> ValidatePackage(const std::string& path);

// The same on a file already open; leaves it positioned after the table, or
// wherever the check stopped, so seek before reading from it again.
std::optional<std::string> ValidatePackage(File& file);

}  // namespace meterload
