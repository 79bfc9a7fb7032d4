#include "update/update_duration.h"

#include "firmware/image_header.h"
#include "link/update_link.h"

namespace meterload {
namespace {

using std::chrono::milliseconds;

// The pauses of the two procedures, in the order they make them.
constexpr milliseconds kWrite{10};  // after every write
constexpr milliseconds kImageSettle{2000 + 2000};
constexpr milliseconds kImageChunkPause{5};
constexpr milliseconds kImageReplyWait{1000};
constexpr milliseconds kPackageSettle{40 * 100};
constexpr milliseconds kEntryChunkPause{20};
constexpr milliseconds kLeadChunkPause{10};
constexpr milliseconds kHeaderSkipPause{10};
constexpr milliseconds kEntryReplyWait{2000};
constexpr milliseconds kLeadReplyWait{1000};

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
    milliseconds total = kWrite + kImageSettle + (kImageChunkPause + kWrite) * writes;
    if (writes > 0 && NeedsPadCommand(plan.lastChunk)) {
        total += kWrite;
    }
    // Reply, EndFrame, reply.
    return total + kImageReplyWait + kWrite + kImageReplyWait;
}

milliseconds PackageUpdateDuration(const std::vector<std::uint64_t>& otherSizes,
                                   std::uint64_t leadSize)
{
    milliseconds total = kWrite + kPackageSettle;
    for (const std::uint64_t size : otherSizes) {
        total += PackageRun(size, kEntryChunkPause) + kEntryReplyWait + kWrite;
    }
    const std::uint64_t body = leadSize > kImageHeaderSize ? leadSize - kImageHeaderSize : 0;
    total += kHeaderSkipPause + PackageRun(body, kLeadChunkPause);
    if (NeedsPadCommand(PlanChunks(body).lastChunk)) {
        total += kWrite;
    }
    return total + kLeadReplyWait + kWrite;
}

}  // namespace meterload
