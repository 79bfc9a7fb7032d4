#include "firmware/package_plan.h"

#include "firmware/image_header.h"
#include "firmware/update_package.h"
#include "platform/file.h"

#include <algorithm>

namespace meterload {

PackageTable ReadPackageTable(File& file, std::int32_t maxRows)
{
    PackageTable table;
    PackageHeader header;
    if (!file.Seek(0) ||
        file.Read(header.bytes.data(), header.bytes.size()) != static_cast<std::int64_t>(header.bytes.size())) {
        return table;
    }
    table.entryCount = header.EntryCount();
    const std::int32_t wanted = std::min(table.entryCount, maxRows);
    PackageEntry entry;
    for (std::int32_t n = 1; n <= wanted; ++n) {
        if (file.Read(entry.bytes.data(), entry.bytes.size()) != static_cast<std::int64_t>(entry.bytes.size())) {
            break;
        }
        table.rows.push_back({n, entry.Offset(), entry.Size(), entry.Name()});
    }
    return table;
}

std::uint64_t PackagePlan::BytesToSend() const
{
    std::uint64_t total = 0;
    for (const PlannedImage& image : images) {
        total += image.bytesToSend;
    }
    return total;
}

PackagePlan PlanPackage(const PackageTable& table)
{
    PackagePlan plan;
    if (table.rows.empty() || !table.Whole()) {
        return plan;
    }
    for (std::size_t i = 1; i < table.rows.size(); ++i) {
        const PackageRow& row = table.rows[i];
        plan.images.push_back({row.number, row.offset, 0, static_cast<std::uint64_t>(std::max(row.size, 0)), false});
    }
    // Entry 1's header is checked before update mode and never sent.
    const PackageRow& lead = table.rows.front();
    const std::uint64_t leadSize = static_cast<std::uint64_t>(std::max(lead.size, 0));
    plan.images.push_back({lead.number, lead.offset, static_cast<std::uint32_t>(kImageHeaderSize),
                           leadSize > kImageHeaderSize ? leadSize - kImageHeaderSize : 0, true});
    return plan;
}

}  // namespace meterload
