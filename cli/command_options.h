// What every command's registration shares: the options each one takes
// (--json, --visa-library), and the help's exit codes.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace meterload::cli {

struct CommonOptions;

extern const char* const kExitCodesHelp;

// Adds --json and --visa-library to `command`, stored in `common`.
void AddCommonOptions(CLI::App& command, CommonOptions& common);

// The command's help ends with `text` (its examples), then the exit codes.
void SetFooter(CLI::App& command, const std::string& text);

}  // namespace meterload::cli
