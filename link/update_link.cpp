#include "link/update_link.h"

namespace meterload {

bool NeedsPadCommand(std::size_t lastWriteCount)
{
    // The counts whose transfer, with its 12-byte USBTMC header, fills whole
    // 64-byte USB packets.
    return lastWriteCount < kChunkSize && (lastWriteCount + 12) % 64 == 0;
}

std::uint8_t ReplyStatus(const std::uint8_t* reply)
{
    return reply[0] == kReplyPrefix ? reply[1] : reply[0];
}

const char* ReplyCodeName(std::uint8_t code)
{
    switch (code) {
    case '1': return "FRAME_ERROR";
    case '2': return "CHECKSUM_ERROR";
    case '3': return "ERASE_ERROR";
    case '4': return "PROGRAM_ERROR";
    case '5': return "VERSION_ERROR";
    case '6': return "FW_ERROR";
    default: return nullptr;
    }
}

ChunkPlan PlanChunks(std::uint64_t size)
{
    ChunkPlan plan;
    if (size == 0) {
        return plan;
    }
    // The last write always carries something: a multiple of 240 ends with a
    // full chunk rather than an empty one.
    plan.fullChunks = (size - 1) / kChunkSize;
    plan.lastChunk = static_cast<std::uint32_t>(size - plan.fullChunks * kChunkSize);
    return plan;
}

}  // namespace meterload
