// The ZQ6140's USB descriptors as the emulated bus gives them: a full-speed
// device with one USBTMC (USB488) interface, bulk-out 0x01, bulk-in 0x82 and
// an interrupt-in endpoint.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace meterload::testing {

std::vector<std::uint8_t> DeviceDescriptor();
std::vector<std::uint8_t> ConfigurationDescriptor();
// String descriptor `index` (0: the language list) of a meter with `serial`.
std::optional<std::vector<std::uint8_t>> StringDescriptor(std::uint8_t index, const std::string& serial);

}  // namespace meterload::testing
