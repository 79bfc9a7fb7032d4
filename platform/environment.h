// The process environment, read as UTF-8 text on every system.
#pragma once

#include <optional>
#include <string>

namespace meterload {

// The value of the variable `name`, or nothing when it is not set. On Windows
// the value is read in UTF-16 and given as UTF-8, so that a path outside the
// user's code page arrives whole.
std::optional<std::string> EnvironmentText(const char* name);

// The value of `name`, or nothing when it is unset or empty.
std::optional<std::string> NonEmptyEnvironmentText(const char* name);

}  // namespace meterload
