// A whole-package check run before the instrument is switched into update
// mode: every entry must lie inside the file, so that nothing is ever sent
// that was not read from it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace meterload {

class File;

// Nothing when the package is sound; otherwise one line that says what is
// wrong with it, for the user.
std::optional<std::string> ValidatePackage(const std::string& path);
std::optional<std::string> ValidatePackage(File& file);

}  // namespace meterload
