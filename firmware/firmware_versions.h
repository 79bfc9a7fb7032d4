// The three versions inside the FirmwareVersionField, the text after the last
// comma of the instrument's identification reply.
#pragma once

#include <string>
#include <string_view>

namespace meterload {

struct FirmwareVersions {
    std::string dsp;     // positions 0 to 4
    std::string panel;   // positions 6 and 7
    std::string msp430;  // positions 9 and 10
};

// Each version as far as the field reaches; a field too short for one gives
// it shorter or empty.
FirmwareVersions DecodeFirmwareVersions(std::string_view firmwareVersionField);

}  // namespace meterload
