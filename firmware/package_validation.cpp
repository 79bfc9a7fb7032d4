#include "firmware/package_validation.h"

#include "firmware/image_header.h"
#include "firmware/update_package.h"
#include "platform/file.h"

#include <string>

namespace meterload {

namespace {

constexpr const char* kDamaged = "The update package is damaged and cannot be installed.\n";

std::string Damaged(const std::string& reason)
{
    return kDamaged + reason;
}

std::string EntryName(std::int64_t n)
{
    return "Entry " + std::to_string(n);
}

std::optional<std::string> CheckEntry(const PackageEntry& entry, std::int64_t n, std::int64_t fileSize)
{
    const std::int64_t offset = entry.Offset();
    const std::int64_t size = entry.Size();
    if (offset < 0) {
        return Damaged(EntryName(n) + " has a negative offset (" + std::to_string(offset) + ").");
    }
    if (size < 0) {
        return Damaged(EntryName(n) + " has a negative size (" + std::to_string(size) + ").");
    }
    // Both are below 2^31, so the sum cannot overflow.
    if (offset + size > fileSize) {
        return Damaged(EntryName(n) + " (" + std::to_string(size) + " bytes at offset " + std::to_string(offset) +
                       ") runs past the end of the file (" + std::to_string(fileSize) + " bytes).");
    }
    if (n == 1 && size < static_cast<std::int64_t>(kImageHeaderSize)) {
        return Damaged("Entry 1 is " + std::to_string(size) + " bytes long, too short for its 50-byte image header.");
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> ValidatePackage(const std::string& path)
{
    const auto file = File::Open(path);
    if (!file) {
        return Damaged("The package file cannot be opened.");
    }
    return ValidatePackage(*file);
}

std::optional<std::string> ValidatePackage(File& file)
{
    return CheckPackage(file).damage;
}

PackageCheck CheckPackage(File& file)
{
    PackageCheck check;
    const auto fail = [&check](std::string damage) {
        check.damage = std::move(damage);
        return check;
    };
    const std::int64_t fileSize = file.Size();
    if (fileSize < 0) {
        return fail(Damaged("The size of the package file cannot be read."));
    }
    const auto headerSize = static_cast<std::int64_t>(kPackageHeaderSize);
    if (fileSize < headerSize) {
        return fail(Damaged("The file is " + std::to_string(fileSize) +
                            " bytes long, shorter than the 516-byte package header."));
    }
    PackageHeader header;
    if (!file.Seek(0) || !ReadExactly(file, header.bytes.data(), header.bytes.size())) {
        return fail(Damaged("The package header cannot be read."));
    }
    const std::int64_t count = header.EntryCount();
    check.table.entryCount = header.EntryCount();
    if (count < 1) {
        return fail(Damaged("It lists no images (entry count " + std::to_string(count) + ")."));
    }
    const std::int64_t tableEnd = headerSize + count * static_cast<std::int64_t>(kPackageEntrySize);
    if (tableEnd > fileSize) {
        return fail(Damaged("Its table of " + std::to_string(count) + " entries runs past the end of the file (" +
                            std::to_string(fileSize) + " bytes)."));
    }
    // The table follows the header directly; the images themselves are never read.
    PackageEntry entry;
    for (std::int64_t n = 1; n <= count; ++n) {
        if (!ReadExactly(file, entry.bytes.data(), entry.bytes.size())) {
            return fail(Damaged(EntryName(n) + " cannot be read."));
        }
        if (auto reason = CheckEntry(entry, n, fileSize)) {
            return fail(*reason);
        }
        check.table.rows.push_back({static_cast<std::int32_t>(n), entry.Offset(), entry.Size(), entry.Name()});
    }
    return check;
}

}  // namespace meterload
