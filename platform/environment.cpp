#include "platform/environment.h"

namespace meterload {

std::optional<std::string> NonEmptyEnvironmentText(const char* name)
{
    std::optional<std::string> value = EnvironmentText(name);
    if (value && value->empty()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace meterload
