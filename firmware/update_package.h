// The .pak file: a 516-byte header, a table of 520-byte entries, and the images
// at the offsets the entries give. Integers are little-endian. Reading and
// writing both go through the two records here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace meterload {

inline constexpr std::size_t kPackageHeaderSize = 516;
inline constexpr std::size_t kPackageEntrySize = 520;

struct PackageHeader {
    std::array<std::uint8_t, kPackageHeaderSize> bytes{};  // entry count 0 until read
    std::int32_t EntryCount() const;
    void SetEntryCount(std::int32_t count);
};

struct PackageEntry {
    std::array<std::uint8_t, kPackageEntrySize> bytes{};
    std::int32_t Offset() const;
    std::int32_t Size() const;
    std::string Name() const;  // up to the first zero byte
    // The name is cut to leave at least one zero byte after it.
    void Set(std::int32_t offset, std::int32_t size, const std::string& name);
};

// The header of the package at `path`, or nothing when the file cannot be
// opened. A short file leaves the rest of the header zero.
std::optional<PackageHeader> ReadPackageHeader(const std::string& path);

// Entry `n` (counted from 1) of the package's table, or nothing when the file
// cannot be opened, `n` lies outside 1 .. entry count, or the file ends before
// the entry does.
std::optional<PackageEntry> ReadPackageEntry(const std::string& path, int n);

}  // namespace meterload
