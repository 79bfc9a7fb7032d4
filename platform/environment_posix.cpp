#include "platform/environment.h"

#include <cstdlib>

namespace meterload {

std::optional<std::string> EnvironmentText(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

}  // namespace meterload
