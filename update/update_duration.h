// How long an update keeps the instrument in update mode, told before it
// starts: from "system:update\n" to the last reply, from the procedures'
// pauses (the 10 ms after every write included). The time the instrument
// and the library take on top of them is not in it.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

namespace meterload {

// A single image whose body (the file less its 50-byte header) has `bodySize` bytes.
std::chrono::milliseconds ImageUpdateDuration(std::uint64_t bodySize);

// A package: the sizes of entries 2 .. entry count in table order, and entry 1's size.
std::chrono::milliseconds PackageUpdateDuration(const std::vector<std::uint64_t>& otherSizes,
                                                std::uint64_t leadSize);

}  // namespace meterload
