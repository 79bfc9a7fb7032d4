// Package readers and the whole-package check on arbitrary files.
//
// Input: the package file. The check's verdict is compared with one worked
// out here from the bytes, and the readers with a model that reads the table
// the same way; when the check admits a package, every image is read back as
// the package update would, and every read must bring all it asked for.
#include "firmware/image_header.h"
#include "firmware/package_validation.h"
#include "firmware/update_package.h"
#include "fuzz/memory_file.h"
#include "platform/file.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

using meterload::kPackageEntrySize;
using meterload::kPackageHeaderSize;

void Require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

std::int32_t Int32At(const std::uint8_t* data, std::size_t size, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::uint8_t byte = at + i < size ? data[at + i] : 0;
        value |= std::uint32_t{byte} << (8 * i);
    }
    std::int32_t result = 0;
    std::memcpy(&result, &value, sizeof result);
    return result;
}

bool SoundPackage(const std::uint8_t* data, std::size_t size)
{
    const auto fileSize = static_cast<std::int64_t>(size);
    if (size < kPackageHeaderSize) {
        return false;
    }
    const std::int64_t count = Int32At(data, size, 512);
    if (count < 1 || 516 + 520 * count > fileSize) {
        return false;
    }
    for (std::int64_t n = 1; n <= count; ++n) {
        const auto at = static_cast<std::size_t>(516 + 520 * (n - 1));
        const std::int64_t offset = Int32At(data, size, at);
        const std::int64_t length = Int32At(data, size, at + 4);
        if (offset < 0 || length < 0 || offset + length > fileSize || (n == 1 && length < 50)) {
            return false;
        }
    }
    return true;
}

// What ReadPackageEntry returns: entry n when the table counts it and the
// file holds all of it.
std::optional<std::array<std::uint8_t, kPackageEntrySize>> ModelEntry(const std::uint8_t* data, std::size_t size, int n)
{
    const std::int64_t count = Int32At(data, std::min(size, kPackageHeaderSize), 512);
    if (n < 1 || n > count) {
        return std::nullopt;
    }
    const auto at = static_cast<std::uint64_t>(kPackageHeaderSize) +
                    static_cast<std::uint64_t>(kPackageEntrySize) * static_cast<std::uint64_t>(n - 1);
    if (at + kPackageEntrySize > size) {
        return std::nullopt;
    }
    std::array<std::uint8_t, kPackageEntrySize> record;
    std::memcpy(record.data(), data + at, kPackageEntrySize);
    return record;
}

void ReadImageBack(const std::string& path, const meterload::PackageEntry& entry, bool lead)
{
    const auto file = meterload::File::Open(path);
    Require(file != nullptr);
    Require(file->Seek(entry.Offset()));
    std::uint8_t chunk[240];
    auto left = static_cast<std::int64_t>(entry.Size());
    if (lead) {
        Require(meterload::ReadExactly(*file, chunk, meterload::kImageHeaderSize));
        left -= static_cast<std::int64_t>(meterload::kImageHeaderSize);
    }
    while (left > 0) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(left, sizeof chunk));
        Require(meterload::ReadExactly(*file, chunk, want));
        left -= static_cast<std::int64_t>(want);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto& memory = meterload::fuzzing::SharedMemoryFile();
    memory.Replace(data, size);
    const std::string& path = memory.Path();

    const std::optional<std::string> reason = meterload::ValidatePackage(path);
    Require(reason.has_value() != SoundPackage(data, size));
    if (reason) {
        Require(reason->rfind("The update package is damaged and cannot be installed.\n", 0) == 0);
        Require(std::count(reason->begin(), reason->end(), '\n') == 1);
    }
    {
        const auto file = meterload::File::Open(path);
        Require(file != nullptr);
        Require(meterload::ValidatePackage(*file) == reason);
    }

    const std::optional<meterload::PackageHeader> header = meterload::ReadPackageHeader(path);
    Require(header.has_value());
    const std::int32_t count = header->EntryCount();
    Require(count == Int32At(data, std::min(size, kPackageHeaderSize), 512));

    const int probes[] = {0, 1, 2, 3, count, count > 0 && count < 0x7FFFFFFF ? count + 1 : -1};
    for (const int n : probes) {
        const std::optional<meterload::PackageEntry> entry = meterload::ReadPackageEntry(path, n);
        const auto model = ModelEntry(data, size, n);
        Require(entry.has_value() == model.has_value());
        Require(!entry || entry->bytes == *model);
    }

    // Every entry of an admitted package reads back whole.
    if (!reason) {
        for (int n = 1; n <= std::min(count, 64); ++n) {
            const std::optional<meterload::PackageEntry> entry = meterload::ReadPackageEntry(path, n);
            Require(entry.has_value());
            ReadImageBack(path, *entry, n == 1);
        }
    }
    return 0;
}
