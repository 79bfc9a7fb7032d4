// The bytes MeterLoad exchanges with the ZQ6140 on top of plain writes and reads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace meterload {

inline constexpr std::string_view kCommandLocal = "L0\n";
inline constexpr std::string_view kCommandIdentify = "*idn?\n";
inline constexpr std::string_view kCommandSystemUpdate = "system:update\n";
inline constexpr std::string_view kPadCommand = "@?\n";

inline constexpr std::array<std::uint8_t, 10> kEndFrame = {0xAB, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0xFF, 0xFF};

inline constexpr std::size_t kChunkSize = 240;
inline constexpr std::size_t kIdentifyReplyCapacity = 64;

inline constexpr std::uint8_t kReplyAccepted = '0';
inline constexpr std::uint8_t kReplyPrefix = 0xAB;

// True for the last-write counts after which the PadCommand must follow
// (52, 116 and 180: below 240, count + 12 a multiple of 64).
bool NeedsPadCommand(std::size_t lastWriteCount);

// The status character of a reply of at least 2 bytes: byte 0, or byte 1
// when byte 0 is the 0xAB prefix.
std::uint8_t ReplyStatus(const std::uint8_t* reply);

// "FRAME_ERROR" ... "FW_ERROR" for '1' to '6'; nullptr for every other byte.
const char* ReplyCodeName(std::uint8_t code);

// How a run of `size` bytes is cut into writes: `fullChunks` writes of 240
// bytes, then one of `lastChunk` bytes (1 to 240), or none when size is 0.
struct ChunkPlan {
    std::uint64_t fullChunks = 0;
    std::uint32_t lastChunk = 0;
};
ChunkPlan PlanChunks(std::uint64_t size);

}  // namespace meterload
