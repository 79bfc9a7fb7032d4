// The least time the instrument's pauses allow an update to take: the sum of
// every pause the procedures make, with nothing else taking any time.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

namespace meterload::bench {

inline constexpr std::uint32_t kImageHeaderBytes = 50;

// The dialog's single-image update of an image of `imageSize` bytes
// (header included), identification first.
std::chrono::milliseconds ImageMinimum(std::uint64_t imageSize);

// The package update of a package whose entry n has entrySizes[n - 1] bytes.
std::chrono::milliseconds PackageMinimum(const std::vector<std::uint32_t>& entrySizes);

}  // namespace meterload::bench
