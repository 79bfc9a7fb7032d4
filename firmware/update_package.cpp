#include "firmware/update_package.h"

#include "platform/file.h"

#include <algorithm>
#include <cstring>

namespace meterload {

namespace {

constexpr std::size_t kEntryCountOffset = 512;
constexpr std::size_t kEntryOffsetOffset = 0;
constexpr std::size_t kEntrySizeOffset = 4;
constexpr std::size_t kEntryNameOffset = 8;

// Little-endian whatever the host's byte order.
std::int32_t LittleEndianInt32(const std::uint8_t* bytes)
{
    const std::uint32_t value = std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) |
                                (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24);
    std::int32_t result = 0;
    std::memcpy(&result, &value, sizeof result);
    return result;
}

void PutLittleEndianInt32(std::uint8_t* bytes, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<std::uint8_t>((bits >> (8 * i)) & 0xFFu);
    }
}

// Reads up to `count` bytes into `destination`. Bytes beyond what the file
// still holds keep their earlier content; a failed read changes nothing.
// Returns the number of bytes that arrived.
std::size_t ReadOver(File& file, std::uint8_t* destination, std::size_t count)
{
    std::array<std::uint8_t, kPackageEntrySize> staging{};
    const std::int64_t got = file.Read(staging.data(), std::min(count, staging.size()));
    if (got <= 0) {
        return 0;
    }
    const auto arrived = static_cast<std::size_t>(got);
    std::copy_n(staging.begin(), arrived, destination);
    return arrived;
}

}  // namespace

std::int32_t PackageHeader::EntryCount() const
{
    return LittleEndianInt32(bytes.data() + kEntryCountOffset);
}

void PackageHeader::SetEntryCount(std::int32_t count)
{
    PutLittleEndianInt32(bytes.data() + kEntryCountOffset, count);
}

void PackageEntry::Set(std::int32_t offset, std::int32_t size, const std::string& name)
{
    bytes.fill(0);
    PutLittleEndianInt32(bytes.data() + kEntryOffsetOffset, offset);
    PutLittleEndianInt32(bytes.data() + kEntrySizeOffset, size);
    const std::size_t room = bytes.size() - kEntryNameOffset - 1;
    std::copy_n(name.begin(), std::min(name.size(), room), bytes.begin() + kEntryNameOffset);
}

std::int32_t PackageEntry::Offset() const
{
    return LittleEndianInt32(bytes.data() + kEntryOffsetOffset);
}

std::int32_t PackageEntry::Size() const
{
    return LittleEndianInt32(bytes.data() + kEntrySizeOffset);
}

std::string PackageEntry::Name() const
{
    const auto* first = bytes.data() + kEntryNameOffset;
    const auto* last = bytes.data() + bytes.size();
    return std::string(first, std::find(first, last, std::uint8_t{0}));
}

int ReadPackageHeader(const std::string& path, PackageHeader& header)
{
    const auto file = File::Open(path);
    if (!file) {
        return 1;
    }
    header.bytes.fill(0);
    ReadOver(*file, header.bytes.data(), header.bytes.size());
    return 0;
}

int ReadPackageEntry(const std::string& path, PackageEntry& entry, int n)
{
    const auto file = File::Open(path);
    if (!file) {
        return 1;
    }
    PackageHeader header;
    ReadOver(*file, header.bytes.data(), header.bytes.size());
    const std::int32_t count = header.EntryCount();
    for (std::int64_t i = 1; i <= count; ++i) {
        const std::size_t arrived = ReadOver(*file, entry.bytes.data(), entry.bytes.size());
        if (i == n) {
            break;
        }
        // Past the end of the file every further read brings nothing, so the
        // record already holds what the remaining rounds would leave in it.
        if (arrived < entry.bytes.size()) {
            break;
        }
    }
    return 0;
}

}  // namespace meterload
