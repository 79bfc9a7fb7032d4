// CRC-32 as zlib computes it, fed piece by piece so that an image can be
// checked without holding it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zqsim {

// Continues `crc` (0 for an empty input) over `size` more bytes.
std::uint32_t Crc32Update(std::uint32_t crc, const unsigned char* data, std::size_t size);

}  // namespace zqsim
