// What every command's registration shares: the options each one takes
// (--json, --visa-library), and the help's exit codes.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace meterload::cli {

struct CommonOptions;

extern const char* const kExitCodesHelp;

// Adds --json and --visa-library to `command`, stored in `common`.
void AddCommonOptions(CLI::App& command, CommonOptions& common);

// --serial (any number of times, one value each, so that FILE may follow it)
// and --all, which excludes it.
void AddInstrumentChoice(CLI::App& command, std::vector<std::string>& serials, bool& all, const std::string& serialHelp,
                         const std::string& allHelp);

// The command's help ends with `text` (its examples), then the exit codes.
void SetFooter(CLI::App& command, const std::string& text);

}  // namespace meterload::cli
