// The commands of meterload-cli; each returns the process's exit code.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace meterload::cli {

struct CommonOptions {
    bool json = false;
    std::string visaLibrary;  // --visa-library
};

int RunList(const CommonOptions& common, bool identify);
int RunIdentify(const CommonOptions& common, const std::string& serial);
int RunInfo(const CommonOptions& common);
int RunInspect(const CommonOptions& common, const std::string& file,
               const std::optional<std::string>& firmwareVersionField, const std::string& serial);
int RunPack(const CommonOptions& common, const std::string& out, const std::vector<std::string>& entries,
            bool force);

struct InstallOptions {
    std::string file;
    std::vector<std::string> serials;  // --serial, in the order given
    bool all = false;                  // --all
    bool dryRun = false;
    bool yes = false;
};
int RunInstall(const CommonOptions& common, const InstallOptions& options);

// `since`: empty, or a date (YYYY-MM-DD, optionally with a time) in UTC.
int RunHistory(const CommonOptions& common, const std::string& serial, const std::string& since);

}  // namespace meterload::cli
