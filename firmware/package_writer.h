// Writing a package from images: the header, the table, then each image
// whole, in table order, right after the table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace meterload {

struct PackInput {
    std::string path;
    std::string name;       // the table's name for it
    std::int64_t size = 0;  // bytes copied from `path`, exactly
};

enum class PackFailure {
    None,
    TooLarge,      // offsets and sizes are signed 32-bit numbers in the table
    InputChanged,  // an input could not be read or brought fewer bytes than its size
    WriteFailed,
};

// Entry 1 is inputs.front(). A failed write removes what it left of `out`.
PackFailure WritePackage(const std::string& out, const std::vector<PackInput>& inputs);

// Whether `inputs` fit in a package at all.
bool FitsInPackage(const std::vector<PackInput>& inputs);

}  // namespace meterload
