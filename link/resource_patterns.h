// How the ZQ6140 is searched for among the VISA resources.
#pragma once

namespace meterload {

// The ZQ6140 as VISA regular expressions: its vendor and product identifiers
// in hexadecimal first, then in decimal for libraries that enumerate them so.
inline constexpr const char* kResourcePatterns[] = {
    "USB[0-9]*::0x1D47::0x0B62::?*INSTR",
    "USB[0-9]*::7495::2914::?*INSTR",
};

}  // namespace meterload
