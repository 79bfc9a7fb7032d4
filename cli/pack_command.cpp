// pack: writes a package that the package update accepts, then checks what it
// wrote with the same validation as the update.
#include "cli/commands.h"

#include "cli/console.h"
#include "cli/exit_codes.h"
#include "cli/file_facts.h"
#include "cli/report.h"
#include "firmware/update_package.h"
#include "platform/file.h"
#include "update/package_name.h"
#include "update/split_path.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>

namespace meterload::cli {
namespace {

constexpr std::size_t kCopyBlock = 64 * 1024;

void PutLittleEndian32(std::uint8_t* at, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>((bits >> (8 * i)) & 0xFFu);
    }
}

struct Input {
    std::string path;
    std::int64_t size = 0;
};

// Exactly `size` bytes, as the table says: a file that changed meanwhile
// must not shift the images after it.
bool Copy(const Input& input, std::ofstream& out)
{
    const auto file = File::Open(input.path);
    if (!file) {
        return false;
    }
    std::vector<char> block(kCopyBlock);
    std::int64_t left = input.size;
    while (left > 0) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(block.size())));
        const std::int64_t n = file->Read(block.data(), want);
        if (n <= 0) {
            return false;
        }
        out.write(block.data(), static_cast<std::streamsize>(n));
        left -= n;
    }
    return true;
}

}  // namespace

int RunPack(const CommonOptions& common, const std::string& out, const std::vector<std::string>& entries,
            bool force)
{
    Report report("pack", common.json);
    report.Data()["package"] = out;
    report.Data()["entries"] = entries;
    if (!IsPackageName(SplitPath(out).fileName)) {
        return report.Fail(kUsage, "The package's name must end in \".pak\": " + Printable(out) + ".",
                           "The update takes only files named so for packages.");
    }
    std::error_code error;
    if (!force && std::filesystem::exists(out, error)) {
        return report.Fail(kFileRefused, Printable(out) + " already exists.",
                           "Choose another name, or add --force to replace it.");
    }

    // Entry 1 must be what the package update admits the package on.
    const FileFacts lead = ReadFileFacts(entries.front());
    if (const Problem problem = FileProblem(lead)) {
        return report.Fail(problem.code, "Entry 1 (" + Printable(entries.front()) + "): " + problem.message,
                           "Entry 1 must be a ZQ6140 image.");
    }

    std::vector<Input> inputs;
    std::int64_t offset = static_cast<std::int64_t>(kPackageHeaderSize + kPackageEntrySize * entries.size());
    for (const std::string& path : entries) {
        if (std::filesystem::equivalent(path, out, error)) {
            return report.Fail(kUsage, Printable(path) + " is the package to be written.",
                               "Name another file for the package.");
        }
        const auto file = File::Open(path);
        const std::int64_t size = file ? file->Size() : -1;
        if (size < 0) {
            return report.Fail(kFileRefused, "Couldn't open source file: " + Printable(path) + ".",
                               "Check the file's name and permissions.");
        }
        // Offsets and sizes are signed 32-bit numbers in the table.
        if (offset + size > std::numeric_limits<std::int32_t>::max()) {
            return report.Fail(kFileRefused, "The images do not fit a package: it would pass 2 GiB.",
                               "Pack fewer or smaller images.");
        }
        inputs.push_back({path, size});
        offset += size;
    }

    std::vector<std::uint8_t> table(kPackageHeaderSize + kPackageEntrySize * inputs.size(), 0);
    PutLittleEndian32(&table[512], static_cast<std::int32_t>(inputs.size()));
    offset = static_cast<std::int64_t>(table.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        std::uint8_t* entry = &table[kPackageHeaderSize + kPackageEntrySize * i];
        PutLittleEndian32(entry, static_cast<std::int32_t>(offset));
        PutLittleEndian32(entry + 4, static_cast<std::int32_t>(inputs[i].size));
        const std::string name = SplitPath(inputs[i].path).fileName.substr(0, 511);
        std::copy(name.begin(), name.end(), entry + 8);
        offset += inputs[i].size;
    }

    {
        std::ofstream file(out, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(table.data()), static_cast<std::streamsize>(table.size()));
        bool copied = static_cast<bool>(file);
        for (const Input& input : inputs) {
            copied = copied && Copy(input, file);
        }
        file.close();
        if (!copied || !file) {
            std::filesystem::remove(out, error);
            return report.Fail(kFileRefused, "The package could not be written: " + Printable(out) + ".",
                               "Check the folder's free space and permissions.");
        }
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

}  // namespace meterload::cli
