// Firmware images and update packages for the Wine tests, written the way
// the instrument's maker lays them out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace meterload::wine {

using Bytes = std::vector<std::uint8_t>;

// A body of `size` bytes that differ from image to image (`seed`).
Bytes ImageBody(std::size_t size, std::uint8_t seed);

// The 50-byte stored (bit-inverted) header naming `identity`, `version` and
// the processor byte `targetKind`.
Bytes StoredHeader(const std::string& identity, const std::string& version,
                   std::uint8_t targetKind);

// Header followed by body: a single image file.
Bytes SingleImage(const std::string& version, std::uint8_t targetKind, const Bytes& body);

// A package whose entry 1 is `lead` (header included) and whose further
// entries are `others`, in table order.
Bytes Package(const Bytes& lead, const std::vector<Bytes>& others);

// CRC-32 as zlib computes it, for comparing with the simulator's image events.
std::uint32_t Crc32(const std::uint8_t* data, std::size_t size);

void WriteFile(const std::string& path, const Bytes& bytes);

}  // namespace meterload::wine
