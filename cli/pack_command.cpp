// pack: writes a package that the package update accepts, then checks what it
// wrote with the same validation as the update.
#include "cli/commands.h"

#include "cli/command_options.h"
#include "cli/console.h"
#include "cli/file_facts.h"
#include "cli/report.h"
#include "firmware/package_writer.h"
#include "platform/file.h"
#include "update/exit_codes.h"
#include "update/package_name.h"
#include "update/split_path.h"

#include <cstdint>
#include <filesystem>

namespace meterload::cli {

int RunPack(const CommonOptions& common, const std::string& out, const std::vector<std::string>& entries, bool force)
{
    Report report("pack", common.json);
    report.Data()["package"] = out;
    report.Data()["entries"] = entries;
    if (!IsPackageName(SplitPath(out).fileName)) {
        return report.Fail(kUsage, "The package's name must end in \".pak\": " + Printable(out) + ".",
                           "The update takes only files named so for packages.");
    }
    std::error_code error;
    if (!force && std::filesystem::exists(std::filesystem::u8path(out), error)) {
        return report.Fail(kFileRefused, Printable(out) + " already exists.",
                           "Choose another name, or add --force to replace it.");
    }

    // Entry 1 must be what the package update admits the package on.
    const FileFacts lead = ReadFileFacts(entries.front());
    if (const Problem problem = FileProblem(lead)) {
        return report.Fail(problem.code, "Entry 1 (" + Printable(entries.front()) + "): " + problem.message,
                           "Entry 1 must be a ZQ6140 image.");
    }

    std::vector<PackInput> inputs;
    for (const std::string& path : entries) {
        if (std::filesystem::equivalent(std::filesystem::u8path(path), std::filesystem::u8path(out), error)) {
            return report.Fail(kUsage, Printable(path) + " is the package to be written.",
                               "Name another file for the package.");
        }
        const auto file = File::Open(path);
        const std::int64_t size = file ? file->Size() : -1;
        if (size < 0) {
            return report.Fail(kFileRefused, "Couldn't open source file: " + Printable(path) + ".",
                               "Check the file's name and permissions.");
        }
        inputs.push_back({path, SplitPath(path).fileName, size});
        if (!FitsInPackage(inputs)) {
            return report.Fail(kFileRefused, "The images do not fit a package: it would pass 2 GiB.",
                               "Pack fewer or smaller images.");
        }
    }
    // Entry 1 first, as given.
    if (WritePackage(out, inputs) != PackFailure::None) {
        return report.Fail(kFileRefused, "The package could not be written: " + Printable(out) + ".",
                           "Check the folder's free space and permissions.");
    }

    // What was written must pass what the update checks before update mode.
    const FileFacts written = ReadFileFacts(out);
    report.Data()["written"] = FactsJson(written);
    if (const Problem problem = FileProblem(written)) {
        return report.Fail(kFileRefused, "The package written does not pass: " + problem.message,
                           "Check the input files and the folder, then run the command again.");
    }
    for (const std::string& line : FactsText(written)) {
        report.Out(line);
    }
    return report.Finish(kDone);
}

Registered RegisterPack(CLI::App& app)
{
    struct Options {
        CommonOptions common;
        std::string out;
        std::vector<std::string> entries;
        bool force = false;
    };
    const auto options = std::make_shared<Options>();
    CLI::App* pack = app.add_subcommand("pack", "Write a package from images");
    AddCommonOptions(*pack, options->common);
    pack->add_option("OUT", options->out, "The package to write (.pak)")->required();
    pack->add_option("ENTRY", options->entries, "Entry 1 (a ZQ6140 image), then the others in the order they are sent")
        ->required();
    pack->add_flag("--force", options->force, "Replace OUT if it exists");
    SetFooter(*pack, "Entry 1 is installed last; the others go first, in the order given.\n\n"
                     "Examples:\n  meterload-cli pack fw.pak main.bin panel.bin msp.bin");
    return {pack, [options] { return RunPack(options->common, options->out, options->entries, options->force); }};
}

}  // namespace meterload::cli
