// Firmware images and update packages for the benchmarks, written to disk in
// pieces so that generating even a large one holds only a small buffer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace meterload::bench {

// A version newer than the simulated instrument's DSP firmware (02.05).
inline constexpr const char* kNewerDspVersion = "02.06";

// A single image of `totalSize` bytes (header included) for the DSP.
void WriteImageFile(const std::string& path, std::uint64_t totalSize);

// A package whose entry n has entrySizes[n - 1] bytes; entry 1 starts with a
// DSP image header, the others are plain bytes. Images follow the table in
// table order.
void WritePackageFile(const std::string& path, const std::vector<std::uint32_t>& entrySizes);

// A fresh private directory under the system's temporary directory.
std::string MakeTempDir();

// Removes the directory and everything in it.
void RemoveTree(const std::string& path);

}  // namespace meterload::bench
