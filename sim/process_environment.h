// The process's environment, read and written through the operating system so
// that what the library leaves there outlives the library itself.
#pragma once

#include <optional>
#include <string>

namespace zqsim {

std::optional<std::string> GetEnvironmentText(const char* name);

// An empty text removes the variable.
void SetEnvironmentText(const char* name, const std::string& value);

}  // namespace zqsim
