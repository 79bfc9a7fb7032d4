#include "firmware/package_writer.h"

#include "firmware/update_package.h"
#include "platform/file.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>

namespace meterload {
namespace {

constexpr std::size_t kCopyBlock = 64 * 1024;

std::int64_t TableEnd(std::size_t entries)
{
    return static_cast<std::int64_t>(kPackageHeaderSize + kPackageEntrySize * entries);
}

// Exactly `size` bytes, as the table says: a file that changed meanwhile
// must not shift the images after it.
bool Copy(const PackInput& input, std::ofstream& out)
{
    const auto file = File::Open(input.path);
    if (!file) {
        return false;
    }
    std::vector<char> block(kCopyBlock);
    std::int64_t left = input.size;
    while (left > 0) {
        const auto want =
            static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(block.size())));
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

bool FitsInPackage(const std::vector<PackInput>& inputs)
{
    std::int64_t end = TableEnd(inputs.size());
    for (const PackInput& input : inputs) {
        end += input.size;
        if (input.size < 0 || end > std::numeric_limits<std::int32_t>::max()) {
            return false;
        }
    }
    return true;
}

PackFailure WritePackage(const std::string& out, const std::vector<PackInput>& inputs)
{
    if (!FitsInPackage(inputs)) {
        return PackFailure::TooLarge;
    }
    PackageHeader header;
    header.SetEntryCount(static_cast<std::int32_t>(inputs.size()));
    std::vector<PackageEntry> table(inputs.size());
    std::int64_t offset = TableEnd(inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        table[i].Set(static_cast<std::int32_t>(offset), static_cast<std::int32_t>(inputs[i].size), inputs[i].name);
        offset += inputs[i].size;
    }

    PackFailure failure = PackFailure::None;
    {
        std::ofstream file(std::filesystem::u8path(out), std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(header.bytes.data()),
                   static_cast<std::streamsize>(header.bytes.size()));
        for (const PackageEntry& entry : table) {
            file.write(reinterpret_cast<const char*>(entry.bytes.data()),
                       static_cast<std::streamsize>(entry.bytes.size()));
        }
        for (const PackInput& input : inputs) {
            if (failure == PackFailure::None && file && !Copy(input, file)) {
                failure = PackFailure::InputChanged;
            }
        }
        file.close();
        if (failure == PackFailure::None && !file) {
            failure = PackFailure::WriteFailed;
        }
    }
    if (failure != PackFailure::None) {
        std::error_code ignored;
        std::filesystem::remove(std::filesystem::u8path(out), ignored);
    }
    return failure;
}

}  // namespace meterload
