// Makes reads of one file fail from a given offset on, as a failing disk
// would, where the file calls can be watched (Linux); elsewhere Supported()
// is false.
#pragma once

#include <cstdint>
#include <string>

namespace meterload::testing {

class ReadFault {
public:
    static bool Supported();
    // Reads of `path` that start at or beyond `offset` fail with an I/O error.
    static void Arm(const std::string& path, std::int64_t offset);
    static void Disarm();
};

}  // namespace meterload::testing
