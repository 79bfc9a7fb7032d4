// A whole-package check run before the instrument is switched into update
// mode: every entry must lie inside the file, so that nothing is ever sent
// that was not read from it.
#pragma once

#include "firmware/package_plan.h"

#include <cstdint>
#include <optional>
#include <string>

namespace meterload {

class File;

// What one reading of a package's header and table found.
struct PackageCheck {
    std::optional<std::string> damage;  // as ValidatePackage tells it
    PackageTable table;                 // whole when there is no damage
};

// Nothing when the package is sound; otherwise the text of the message box
// that refuses it: a line saying the package is damaged, then one naming what
// is wrong. Reads only the header and the table, never the images.
std::optional<std::string> ValidatePackage(const std::string& path);

// The same on a file already open; leaves it positioned after the table, or
// wherever the check stopped, so seek before reading from it again.
std::optional<std::string> ValidatePackage(File& file);

// The check and the table it read, for a caller that goes on with the table.
PackageCheck CheckPackage(File& file);

}  // namespace meterload
