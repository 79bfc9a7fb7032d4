#include "cli/report.h"

#include "cli/console.h"

#include <cstdio>

namespace meterload::cli {

Report::Report(std::string command, bool json) : command_(std::move(command)), json_(json)
{
    data_["command"] = command_;
}

void Report::Out(const std::string& line)
{
    if (!json_) {
        std::printf("%s\n", line.c_str());
    }
}

void Report::Message(const std::string& line)
{
    TheConsole().Line(line);
}

int Report::Finish(int code)
{
    std::fflush(stdout);
    if (json_) {
        data_["exit_code"] = code;
        if (!error_.empty()) {
            data_["error"] = error_;
        }
        // Texts from files and instruments may hold any byte.
        const std::string text = data_.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    }
    return code;
}

int Report::Fail(int code, const std::string& message, const std::string& next)
{
    Message(message);
    if (!next.empty()) {
        Message(next);
    }
    error_ = message;
    return Finish(code);
}

}  // namespace meterload::cli
