#include "sim/process_environment.h"

#include <windows.h>

#include <vector>

namespace zqsim {

std::optional<std::string> GetEnvironmentText(const char* name)
{
    const DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
    if (needed == 0) {
        return std::nullopt;
    }
    std::vector<char> buffer(needed);
    const DWORD length = GetEnvironmentVariableA(name, buffer.data(), needed);
    if (length >= needed) {
        return std::nullopt;
    }
    return std::string(buffer.data(), length);
}

void SetEnvironmentText(const char* name, const std::string& value)
{
    SetEnvironmentVariableA(name, value.empty() ? nullptr : value.c_str());
}

}  // namespace zqsim
