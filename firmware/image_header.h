// The 50-byte bit-inverted header at the start of every firmware image.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace meterload {

class File;

inline constexpr std::size_t kImageHeaderSize = 50;

// The processor an image is meant for; any other byte value names none.
enum class TargetKind : std::uint8_t { Dsp = 0, Panel = 1, Msp430 = 2 };

struct ImageHeader {
    std::array<std::uint8_t, kImageHeaderSize + 1> work{};  // decoded bytes, then a zero
    std::array<char, 16> identity{};                        // decoded bytes 1..15, zero-terminated
    std::array<char, 6> version{};                          // decoded bytes 41..45, zero-terminated
    std::uint8_t targetKind = 0;                            // decoded byte 46
};

// Decodes up to 50 stored bytes; missing bytes decode to 0x00. `stored` may
// be null when `count` is 0.
ImageHeader DecodeImageHeader(const std::uint8_t* stored, std::size_t count);

// Reads up to 50 bytes from the file's current position and decodes them; the
// file is left after what was read, at the start of the image body.
ImageHeader DecodeImageHeader(File& file);

// "DSP", "Panel", "MSP 430", or "none" for a byte that names no processor.
const char* TargetKindName(std::uint8_t targetKind);

// True when the identity text is exactly "KORVALEN ZQ6140".
bool IdentityMatches(const ImageHeader& header);

}  // namespace meterload
