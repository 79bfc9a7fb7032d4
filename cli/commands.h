// The commands of meterload-cli: each adds itself and its options to the
// program's parser, and returns the process's exit code when it runs.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace meterload::cli {

// A command added to the parser, and what runs it once the arguments are parsed.
struct Registered {
    CLI::App* app = nullptr;
    std::function<int()> run;
};
Registered RegisterList(CLI::App& app);
Registered RegisterIdentify(CLI::App& app);
Registered RegisterInfo(CLI::App& app);
Registered RegisterInspect(CLI::App& app);
Registered RegisterInstall(CLI::App& app);
Registered RegisterPack(CLI::App& app);
Registered RegisterHistory(CLI::App& app);
Registered RegisterVerify(CLI::App& app);

struct CommonOptions {
    bool json = false;
    std::string visaLibrary;  // --visa-library
};

int RunList(const CommonOptions& common, bool identify);
int RunIdentify(const CommonOptions& common, const std::string& serial);
int RunInfo(const CommonOptions& common);
int RunInspect(const CommonOptions& common, const std::string& file,
               const std::optional<std::string>& firmwareVersionField, const std::string& serial);
int RunPack(const CommonOptions& common, const std::string& out, const std::vector<std::string>& entries, bool force);

struct InstallOptions {
    std::string file;
    std::vector<std::string> serials;  // --serial, in the order given
    bool all = false;                  // --all
    bool dryRun = false;
    bool yes = false;
    bool verify = false;             // --verify
    int verifyTimeoutSeconds = 300;  // --verify-timeout
};
int RunInstall(const CommonOptions& common, const InstallOptions& options);

struct VerifyOptions {
    std::string file;
    std::vector<std::string> serials;  // --serial, in the order given
    bool all = false;                  // --all
};
int RunVerify(const CommonOptions& common, const VerifyOptions& options);

// `since`: empty, or a date (YYYY-MM-DD, optionally with a time) in UTC.
int RunHistory(const CommonOptions& common, const std::string& serial, const std::string& since);

}  // namespace meterload::cli
