#include "bench/pause_minimum.h"

#include "link/update_link.h"

namespace meterload::bench {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kWrite{10};
constexpr milliseconds kCommandPause{30};

// Identification: "L0\n" and "*idn?\n", each a write and a 30 ms pause.
milliseconds IdentificationMinimum()
{
    return 2 * (kWrite + kCommandPause);
}

}  // namespace

milliseconds ImageMinimum(std::uint64_t imageSize)
{
    const ChunkPlan plan = PlanChunks(imageSize - kImageHeaderBytes);
    const std::uint64_t writes = plan.fullChunks + (plan.lastChunk > 0 ? 1 : 0);
    milliseconds total = IdentificationMinimum();
    total += kWrite;                                   // "system:update\n"
    total += milliseconds(2000) + milliseconds(2000);  // before and after the header check
    total += static_cast<std::int64_t>(writes) * (milliseconds(5) + kWrite);
    if (NeedsPadCommand(plan.lastChunk)) {
        total += kWrite;
    }
    total += milliseconds(1000) + kWrite + milliseconds(1000);  // reply, EndFrame, reply
    return total;
}

milliseconds PackageMinimum(const std::vector<std::uint32_t>& entrySizes)
{
    milliseconds total = IdentificationMinimum();
    total += kWrite + milliseconds(4000);  // "system:update\n" and the settle
    for (std::size_t n = 1; n < entrySizes.size(); ++n) {
        const ChunkPlan plan = PlanChunks(entrySizes[n]);
        total += static_cast<std::int64_t>(plan.fullChunks) * (milliseconds(20) + kWrite);
        total += plan.lastChunk > 0 ? kWrite : milliseconds(0);
        total += milliseconds(2000) + kWrite;  // reply wait, EndFrame
    }
    const ChunkPlan lead = PlanChunks(entrySizes.front() - kImageHeaderBytes);
    total += milliseconds(10);  // after skipping the header
    total += static_cast<std::int64_t>(lead.fullChunks) * (milliseconds(10) + kWrite);
    total += lead.lastChunk > 0 ? kWrite : milliseconds(0);
    total += NeedsPadCommand(lead.lastChunk) ? kWrite : milliseconds(0);
    total += milliseconds(1000) + kWrite;
    return total;
}

}  // namespace meterload::bench
