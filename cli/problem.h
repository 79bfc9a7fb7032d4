// A step of a command that may fail: the exit code, the message and what to
// do next.
#pragma once

#include <string>

namespace meterload::cli {

struct Problem {
    int code = 0;
    std::string message;
    std::string next;
    explicit operator bool() const { return code != 0; }
};

}  // namespace meterload::cli
