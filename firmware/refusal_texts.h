// The texts with which an image refused by the identity check or the version
// gate is reported: log lines for the single-image update, one message-box
// text for the package update.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace meterload {

std::vector<std::string> IdentityMismatchLogLines();
std::string IdentityMismatchBoxText();

// `targetKind` is the header's processor byte (0, 1 or 2; the gate never
// refuses another value, and other values give the DSP wording).
std::vector<std::string> GateRefusalLogLines(std::uint8_t targetKind);
std::string GateRefusalBoxText(std::uint8_t targetKind);

}  // namespace meterload
