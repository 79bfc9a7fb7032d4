// Sets environment variables for one test and restores them afterwards; the
// simulator reads its configuration from there when it loads.
#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace meterload::testing {

class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment()
    {
        for (const auto& [name, value] : saved_) {
            Put(name, value ? *value : std::string());
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    // An empty value removes the variable.
    void Set(const std::string& name, const std::string& value)
    {
        if (saved_.count(name) == 0) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
        }
        Put(name, value);
    }

private:
    static void Put(const std::string& name, const std::string& value)
    {
#ifdef _WIN32
        _putenv_s(name.c_str(), value.c_str());
#else
        if (value.empty()) {
            unsetenv(name.c_str());
        } else {
            setenv(name.c_str(), value.c_str(), 1);
        }
#endif
    }

    std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace meterload::testing
