// A package's table as the file holds it, and the plan an update follows:
// which entries go out in which order, from where, and how many bytes of
// each. The update, its duration estimate and inspect all read this one plan.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace meterload {

class File;

struct PackageRow {
    std::int32_t number = 0;  // 1-based, in table order
    std::int32_t offset = 0;
    std::int32_t size = 0;
    std::string name;
};

struct PackageTable {
    std::int32_t entryCount = 0;   // as the header claims it
    std::vector<PackageRow> rows;  // as far as the file holds them, at most the limit asked for
    bool Whole() const { return static_cast<std::int32_t>(rows.size()) == entryCount; }
};

// Reads the header and up to `maxRows` rows of the table from the start of
// `file`. A header that cannot be read leaves the table empty.
PackageTable ReadPackageTable(File& file, std::int32_t maxRows);

struct PlannedImage {
    std::int32_t number = 0;
    std::int64_t offset = 0;    // where the entry starts in the package
    std::uint32_t skipped = 0;  // header bytes read at `offset` and not sent
    std::uint64_t bytesToSend = 0;
    bool lead = false;  // entry 1, sent last
};

// Entries 2 .. entry count in table order, whole, then entry 1 without its
// image header. Empty when the table is not whole.
struct PackagePlan {
    std::vector<PlannedImage> images;
    std::uint64_t BytesToSend() const;
};
PackagePlan PlanPackage(const PackageTable& table);

}  // namespace meterload
