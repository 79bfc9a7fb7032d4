#include "update/update_duration.h"

#include "link/update_link.h"
#include "update/procedure_pauses.h"

namespace meterload {
namespace {

using std::chrono::milliseconds;
using namespace pauses;

// A run of `size` bytes as the package update sends it: a pause before each
// full chunk, none before the last.
milliseconds PackageRun(std::uint64_t size, milliseconds chunkPause)
{
    const ChunkPlan plan = PlanChunks(size);
    milliseconds total = (chunkPause + kWrite) * static_cast<milliseconds::rep>(plan.fullChunks);
    if (plan.lastChunk > 0) {
        total += kWrite;
    }
    return total;
}

}  // namespace

milliseconds ImageUpdateDuration(std::uint64_t bodySize)
{
    const ChunkPlan plan = PlanChunks(bodySize);
    const auto writes = static_cast<milliseconds::rep>(plan.fullChunks + (plan.lastChunk > 0 ? 1 : 0));
    const milliseconds settle = kPumpStep * (2 * kImageSettleSteps);
    const milliseconds reply = kPumpStep * kImageReplySteps;
    milliseconds total = kWrite + settle + (kImageChunk + kWrite) * writes;
    if (writes > 0 && NeedsPadCommand(plan.lastChunk)) {
        total += kWrite;
    }
    // Reply, EndFrame, reply.
    return total + reply + kWrite + reply;
}

milliseconds PackageUpdateDuration(const PackagePlan& plan)
{
    milliseconds total = kWrite + kPumpStep * kPackageSettleRounds;
    for (const PlannedImage& image : plan.images) {
        if (!image.lead) {
            total += PackageRun(image.bytesToSend, kEntryChunk) + kEntryReply + kWrite;
            continue;
        }
        total += kHeaderSkip + PackageRun(image.bytesToSend, kLeadChunk);
        if (NeedsPadCommand(PlanChunks(image.bytesToSend).lastChunk)) {
            total += kWrite;
        }
        total += kLeadReply + kWrite;
    }
    return total;
}

}  // namespace meterload
