// The simulator takes every setting from ZQSIM_* variables of the
// environment. These tests start from none of them, whatever the shell that
// runs them has set; each test sets what it needs.
#include "tests/sim/scoped_environment.h"

#include <cstdlib>
#include <string>
#include <vector>

#ifdef _WIN32
#define METERLOAD_ENVIRON _environ
#else
#include <unistd.h>
#define METERLOAD_ENVIRON environ
#endif

namespace {

std::vector<std::string> SimulatorVariables()
{
    std::vector<std::string> names;
    for (char** entry = METERLOAD_ENVIRON; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string text(*entry);
        if (text.rfind("ZQSIM_", 0) == 0) {
            names.push_back(text.substr(0, text.find('=')));
        }
    }
    return names;
}

struct CleanStart {
    CleanStart()
    {
        for (const std::string& name : SimulatorVariables()) {
            environment.Set(name, "");
        }
    }
    meterload::testing::ScopedEnvironment environment;
};

const CleanStart kCleanStart;

}  // namespace
