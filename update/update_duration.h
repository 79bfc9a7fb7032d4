// How long an update keeps the instrument in update mode, told before it
// starts: from "system:update\n" to the last reply, from the procedures'
// pauses (the 10 ms after every write included). The time the instrument
// and the library take on top of them is not in it.
#pragma once

#include "firmware/package_plan.h"

#include <chrono>
#include <cstdint>

namespace meterload {

// A single image whose body (the file less its 50-byte header) has `bodySize` bytes.
std::chrono::milliseconds ImageUpdateDuration(std::uint64_t bodySize);

// A package, as its plan sends it.
std::chrono::milliseconds PackageUpdateDuration(const PackagePlan& plan);

}  // namespace meterload
