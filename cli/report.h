// What a command tells: data on standard output (text, or one JSON document
// with --json), messages on standard error, and the exit code.
#pragma once

#include "cli/problem.h"

#include <nlohmann/json.hpp>

#include <string>

namespace meterload::cli {

class Report {
public:
    Report(std::string command, bool json);

    bool Json() const { return json_; }
    nlohmann::json& Data() { return data_; }

    // A line of the command's text output (standard output, text mode only).
    void Out(const std::string& line);
    // A message line on standard error, in either mode.
    void Message(const std::string& line);

    // Ends the command: with --json prints the document with its exit code
    // (and the error message when there is one). Returns `code`.
    int Finish(int code);
    // A message, then what to do next, then Finish(code).
    int Fail(int code, const std::string& message, const std::string& next = std::string());
    int Fail(const Problem& problem) { return Fail(problem.code, problem.message, problem.next); }

private:
    std::string command_;
    bool json_;
    nlohmann::json data_ = nlohmann::json::object();
    std::string error_;
};

}  // namespace meterload::cli
