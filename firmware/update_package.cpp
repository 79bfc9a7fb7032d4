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

namespace {

// The header at the file's current position; a short file leaves the rest
// zero, and a failed read leaves all of it zero.
PackageHeader ReadHeader(File& file)
{
    PackageHeader header;
    if (file.Read(header.bytes.data(), header.bytes.size()) < 0) {
        header = PackageHeader{};
    }
    return header;
}

}  // namespace

std::optional<PackageHeader> ReadPackageHeader(const std::string& path)
{
    const auto file = File::Open(path);
    if (!file) {
        return std::nullopt;
    }
    return ReadHeader(*file);
}

std::optional<PackageEntry> ReadPackageEntry(const std::string& path, int n)
{
    const auto file = File::Open(path);
    if (!file) {
        return std::nullopt;
    }
    const std::int32_t count = ReadHeader(*file).EntryCount();
    if (n < 1 || n > count) {
        return std::nullopt;
    }
    const auto at =
        static_cast<std::int64_t>(kPackageHeaderSize) + static_cast<std::int64_t>(kPackageEntrySize) * (n - 1);
    PackageEntry entry;
    if (!file->Seek(at) || !ReadExactly(*file, entry.bytes.data(), entry.bytes.size())) {
        return std::nullopt;
    }
    return entry;
}

}  // namespace meterload
