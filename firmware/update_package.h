// The .pak file: a 516-byte header, a table of 520-byte entries, and the images
// at the offsets the entries give. Integers are little-endian. Reading and
// writing both go through the two records here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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

// 0 when the file was opened, 1 when it could not be. A short file leaves the
// rest of the header zero.
int ReadPackageHeader(const std::string& path, PackageHeader& header);

// 0 when the file was opened, 1 when it could not be. Leaves entry
// min(n, entry count) in `entry`; a package of no entries leaves it untouched.
int ReadPackageEntry(const std::string& path, PackageEntry& entry, int n);

}  // namespace meterload
