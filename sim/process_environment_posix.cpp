#include "sim/process_environment.h"

#include <cstdlib>

namespace zqsim {

std::optional<std::string> GetEnvironmentText(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

void SetEnvironmentText(const char* name, const std::string& value)
{
    if (value.empty()) {
        ::unsetenv(name);
    } else {
        ::setenv(name, value.c_str(), 1);
    }
}

}  // namespace zqsim
